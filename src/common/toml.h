// The one way the updater includes toml++. The library is compiled once (see
// toml.cpp) with exceptions off; its internal asserts are switched off
// because bad input can reach them in builds without NDEBUG.
#pragma once
#ifndef TOML_ASSERT
#define TOML_ASSERT(expr) static_cast<void>(0)
#endif
#include <toml++/toml.h>
