#include "file_name.hpp"

namespace dsd {

std::optional<std::string> file_extension_of(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(name.substr(dot + 1));
}

std::optional<std::string> file_stem_with_dot(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(name.substr(0, dot + 1));
}

bool extension_matches(std::string_view extension, std::string_view lower, std::string_view upper) {
    return extension == lower || extension == upper;
}

NameCheck check_file_name(std::string_view name, std::string_view lower, std::string_view upper) {
    const auto extension = file_extension_of(name);
    if (!extension) {
        return NameCheck::no_dot;
    }
    return extension_matches(*extension, lower, upper) ? NameCheck::ok : NameCheck::wrong_extension;
}

}  // namespace dsd
