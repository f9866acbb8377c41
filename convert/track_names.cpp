#include "track_names.hpp"

namespace dsd {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Bytes of the UTF-8 character that starts with `lead`.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0xC0) {
        return 1;
    }
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

}  // namespace

std::string text_as_utf8(std::string_view stored) {
    while (!stored.empty() && stored.back() == '\0') {
        stored.remove_suffix(1);
    }
    return is_valid_utf8(stored) ? std::string(stored) : latin1_to_utf8(stored);
}

std::string track_file_name(std::size_t number, std::string_view title) {
    std::string name = number < 10 ? "0" : "";
    name += std::to_string(number);
    // Valid UTF-8 whatever the caller gives, so characters can be told apart.
    const std::string text = text_as_utf8(title);
    std::string_view t(text);
    while (!t.empty() && is_blank(t.front())) {
        t.remove_prefix(1);
    }
    while (!t.empty() && is_blank(t.back())) {
        t.remove_suffix(1);
    }
    std::string clean;
    for (std::size_t i = 0; i < t.size();) {
        const auto lead = static_cast<unsigned char>(t[i]);
        const std::size_t length = sequence_length(lead);
        const bool c1 = lead == 0xC2 && static_cast<unsigned char>(t[i + 1]) < 0xA0;
        const bool replaced = lead < 0x20 || lead == 0x7F || lead == '/' || c1;
        const std::size_t bytes = replaced ? 1 : length;
        if (clean.size() + bytes > max_title_bytes_in_name) {
            break;
        }
        if (replaced) {
            clean.push_back('_');
        } else {
            clean.append(t.substr(i, length));
        }
        i += length;
    }
    while (!clean.empty() && is_blank(clean.back())) {
        clean.pop_back();
    }
    if (!clean.empty()) {
        name += " - ";
        name += clean;
    }
    return name + ".dsf";
}

std::vector<Id3TextFrame> track_tag_frames(std::size_t number, std::size_t count,
                                           const TrackTexts& texts) {
    std::vector<Id3TextFrame> frames{
        {"TRCK", std::to_string(number) + "/" + std::to_string(count)}};
    const auto add = [&](const char* id, const std::string& text) {
        if (!text.empty()) {
            frames.push_back({id, text});
        }
    };
    add("TIT2", texts.title);
    add("TALB", texts.album);
    add("TPE1", texts.performer);
    add("TPE2", texts.album_artist);
    return frames;
}

}  // namespace dsd
