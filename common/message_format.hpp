// The one way every program turns a message text into a line: each text has
// at most one "%s", filled with a name or a number. Names are copied
// verbatim, so a '%' in a file name is printed as it is.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace dsd {

inline std::string format_message(std::string_view text, std::string_view value = {}) {
    const auto at = text.find("%s");
    if (at == std::string_view::npos) {
        return std::string(text);
    }
    std::string out(text.substr(0, at));
    out += value;
    out += text.substr(at + 2);
    return out;
}

// Writes the formatted text to `stream`; false when it could not be written.
inline bool print_message(std::FILE* stream, std::string_view text, std::string_view value = {}) {
    const std::string line = format_message(text, value);
    return std::fwrite(line.data(), 1, line.size(), stream) == line.size();
}

}  // namespace dsd
