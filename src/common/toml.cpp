// The single translation unit that holds toml++'s implementation.
#define TOML_IMPLEMENTATION
#include "common/toml.h"
