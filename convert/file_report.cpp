#include "file_report.hpp"

#include "message_format.hpp"
#include "messages.hpp"

namespace dsd {

FileReport::FileReport(Console& console, std::string name, Mode mode, bool quiet)
    : console_(console), name_(std::move(name)), mode_(mode), quiet_(quiet) {}

void FileReport::header(std::string_view lines) {
    if (quiet_) {
        return;
    }
    if (mode_ == Mode::batch) {
        header_ += lines;
        return;
    }
    // Information, not the product: a closed pipe or a full device on
    // standard output is reported and the run goes on.
    if (const int error = console_.write(lines); error != 0) {
        console_.write_err(format_message(convert_text::lost_output, error_text(error)));
    }
}

// "NAME: MESSAGE"; a message that begins with a blank needs no other.
std::string FileReport::named(std::string_view text, std::string_view value) const {
    std::string line = name_ + ":";
    const std::string message = format_message(text, value);
    if (!message.starts_with(' ')) {
        line += ' ';
    }
    return line + message;
}

void FileReport::message(Stream stream, std::string_view text, std::string_view value) {
    if (mode_ == Mode::batch) {
        messages_ += named(text, value);
    } else if (stream == Stream::out) {
        console_.write(format_message(text, value));
    } else {
        console_.write_err(format_message(text, value));
    }
}

void FileReport::about_input(std::string_view text, std::string_view value) {
    if (mode_ == Mode::batch) {
        messages_ += named(text, value);
    } else {
        console_.write_err(named(text, value));
    }
}

int FileReport::print(bool converted) {
    std::string out;
    if (converted && !header_.empty()) {
        out = name_ + ":\n" + header_;
    }
    return console_.write(out, messages_);
}

}  // namespace dsd
