// File-name rules shared by every tool. A name is taken byte for byte as it
// arrives on the command line; directory separators are ordinary characters.
// The extension is everything after the last '.', the stem everything up to
// and including it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dsd {

// The text after the last '.', or nothing when the name has no '.'.
std::optional<std::string> file_extension_of(std::string_view name);

// The name up to and including its last '.', or nothing when it has none.
std::optional<std::string> file_stem_with_dot(std::string_view name);

// True when the extension is exactly one of the two accepted forms.
bool extension_matches(std::string_view extension, std::string_view lower, std::string_view upper);

enum class NameCheck { ok, no_dot, wrong_extension };

// The whole extension test a tool applies to one of its arguments.
NameCheck check_file_name(std::string_view name, std::string_view lower, std::string_view upper);

}  // namespace dsd
