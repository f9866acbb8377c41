#include "console.hpp"

#include <cerrno>
#include <cstdio>
#include <string>

namespace dsd {
namespace {

// Back to the start of the line, and clear to its end.
constexpr std::string_view erase_line = "\r\x1b[K";

bool put(std::FILE* stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

}  // namespace

int Console::write(std::string_view out, std::string_view err) {
    const std::lock_guard lock(mutex_);
    if (!out.empty() || !err.empty()) {
        hide_locked();
    }
    int error = 0;
    if (!out.empty()) {
        errno = 0;
        // A write that failed earlier counts too: the stream's error stays.
        if (!put(stdout, out) || std::fflush(stdout) != 0 || std::ferror(stdout)) {
            error = errno != 0 ? errno : EIO;
        }
    }
    if (!err.empty()) {
        put(stderr, err);
        std::fflush(stderr);
    }
    return error;
}

void Console::show_status(std::string_view line) {
    const std::lock_guard lock(mutex_);
    std::string text = "\r";
    text += line;
    text += erase_line.substr(1);
    put(stderr, text);
    std::fflush(stderr);
    status_shown_ = true;
}

void Console::hide_status() {
    const std::lock_guard lock(mutex_);
    hide_locked();
}

void Console::hide_locked() {
    if (status_shown_) {
        put(stderr, erase_line);
        std::fflush(stderr);
        status_shown_ = false;
    }
}

}  // namespace dsd
