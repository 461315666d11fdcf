// Shared pieces of strict TOML reading: the error texts for a value of the
// wrong type.
#pragma once
#include <string>
#include <string_view>

#include "common/toml.h"

namespace tamsel {

// "integer", "float", "table", ... for error texts.
std::string_view toml_type_name(toml::node_type type);

// "invalid type: <type of value>, expected <expectation>".
std::string invalid_type_error(const toml::node& value, std::string_view expectation);

}  // namespace tamsel
