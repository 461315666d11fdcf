#include "state/toml_reading.h"

namespace tamsel {

std::string_view toml_type_name(toml::node_type type) {
    switch (type) {
    case toml::node_type::none: return "nothing";
    case toml::node_type::table: return "table";
    case toml::node_type::array: return "array";
    case toml::node_type::string: return "string";
    case toml::node_type::integer: return "integer";
    case toml::node_type::floating_point: return "float";
    case toml::node_type::boolean: return "boolean";
    case toml::node_type::date: return "date";
    case toml::node_type::time: return "time";
    case toml::node_type::date_time: return "date-time";
    }
    return "value";
}

std::string invalid_type_error(const toml::node& value, std::string_view expectation) {
    std::string error = "invalid type: ";
    error += toml_type_name(value.type());
    error += ", expected ";
    error += expectation;
    return error;
}

}  // namespace tamsel
