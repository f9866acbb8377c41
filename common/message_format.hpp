// The one way every program turns a message text into a line: each text has
// at most one "%s", filled with a name or a number. Names are copied
// verbatim, so a '%' in a file name is printed as it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
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

// Bytes from a file as text for a message: printable ASCII as it is, any
// other byte as \xNN, so that a file cannot send control codes to a
// terminal.
inline std::string printable_bytes(std::span<const std::uint8_t> bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            text += "\\x";
            text += hex[b >> 4];
            text += hex[b & 0xF];
        }
    }
    return text;
}

inline std::string printable_bytes(std::string_view bytes) {
    return printable_bytes(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

namespace detail {
// strerror_r comes in two kinds: GNU's returns the text, POSIX's fills the
// buffer and returns a status.
inline const char* error_text_of(const char* text, const char* /*buffer*/) {
    return text;
}
inline const char* error_text_of(int /*status*/, const char* buffer) {
    return buffer;
}
}  // namespace detail

// The system's text for an errno value; unlike strerror, safe in threads.
inline std::string error_text(int error) {
    char buffer[256] = {};
    return detail::error_text_of(::strerror_r(error, buffer, sizeof buffer), buffer);
}

// Writes the formatted text to `stream`; false when it could not be written.
inline bool print_message(std::FILE* stream, std::string_view text, std::string_view value = {}) {
    const std::string line = format_message(text, value);
    return std::fwrite(line.data(), 1, line.size(), stream) == line.size();
}

}  // namespace dsd
