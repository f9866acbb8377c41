#include "cue.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "utf8.hpp"

namespace dsd {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_mark = "\xFF\xFE";
constexpr std::string_view utf16be_mark = "\xFE\xFF";
constexpr std::uint64_t seconds_per_minute = 60;
constexpr unsigned max_track = 99;
constexpr std::size_t max_minute_digits = 9;  // so that no position can wrap

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && is_blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The first blank-separated word of `s`, which loses it and the blanks after.
std::string_view take_word(std::string_view& s) {
    const auto end = std::find_if(s.begin(), s.end(), is_blank);
    const std::string_view word(s.data(), static_cast<std::size_t>(end - s.begin()));
    s = trim(s.substr(word.size()));
    return word;
}

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == y;
           });
}

// A number of 1 to `max_digits` decimal digits.
std::optional<std::uint64_t> number(std::string_view s, std::size_t max_digits) {
    if (s.empty() || s.size() > max_digits) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// mm:ss:ff as frames.
std::optional<std::uint64_t> position(std::string_view s) {
    const auto first = s.find(':');
    const auto second = s.find(':', first == std::string_view::npos ? first : first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const auto minutes = number(s.substr(0, first), max_minute_digits);
    const auto seconds = number(s.substr(first + 1, second - first - 1), 2);
    const auto frames = number(s.substr(second + 1), 2);
    if (!minutes || !seconds || !frames || *seconds >= seconds_per_minute ||
        *frames >= cue_frames_per_second) {
        return std::nullopt;
    }
    return (*minutes * seconds_per_minute + *seconds) * cue_frames_per_second + *frames;
}

// Including the CD-TEXT fields some writers put beside TITLE and PERFORMER.
constexpr std::array<std::string_view, 17> ignored_commands = {
    "ARRANGER",  "CATALOG",    "CDTEXTFILE", "COMPOSER",  "DISC_ID", "FLAGS",
    "GENRE",     "ISRC",       "MESSAGE",    "POSTGAP",   "PREGAP",  "REM",
    "SIZE_INFO", "SONGWRITER", "TOC_INFO1",  "TOC_INFO2", "UPC_EAN"};

class Parser {
  public:
    CueResult run(std::string_view text) {
        std::string converted;
        const std::string_view mark = text.substr(0, 2);
        if (mark == utf16le_mark || mark == utf16be_mark) {
            if (!from_utf16(text.substr(2), mark == utf16be_mark, converted)) {
                return result_;
            }
            text = converted;
        } else if (text.substr(0, byte_order_mark.size()) == byte_order_mark) {
            text.remove_prefix(byte_order_mark.size());
        }
        while (!text.empty() && !done_) {
            // A line ends in LF, CRLF or a lone CR (old Mac writers).
            const auto end = std::min(text.find_first_of("\r\n"), text.size());
            const std::string_view line = text.substr(0, end);
            const bool crlf = text.substr(end, 2) == "\r\n";
            text.remove_prefix(std::min(text.size(), end + (crlf ? 2 : 1)));
            ++line_;
            if (!command(trim(line))) {
                return result_;
            }
        }
        end_track();
        return result_;
    }

  private:
    bool fail(CueError error, std::size_t line) {
        result_.error = error;
        result_.line = line;
        return false;
    }
    bool fail(CueError error) { return fail(error, line_); }

    // A sheet in UTF-16 (some Windows writers' "Unicode") as UTF-8. A
    // surrogate without its other half or a last odd byte is refused on its
    // line, lines counted as the parser counts them.
    bool from_utf16(std::string_view bytes, bool big_endian, std::string& out) {
        const auto unit = [&](std::size_t i) {
            const auto first = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
            const auto second =
                static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]));
            return big_endian ? first << 8 | second : second << 8 | first;
        };
        out.reserve(bytes.size() / 2 * 3);
        std::size_t line = 1;
        bool after_cr = false;
        for (std::size_t i = 0; i < bytes.size(); i += 2) {
            if (bytes.size() - i < 2) {
                return fail(CueError::bad_utf16, line);
            }
            std::uint32_t code = unit(i);
            if (code >= 0xD800 && code < 0xE000) {
                const std::uint32_t low = code < 0xDC00 && bytes.size() - i >= 4 ? unit(i + 2) : 0;
                if (low < 0xDC00 || low >= 0xE000) {
                    return fail(CueError::bad_utf16, line);
                }
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
            if (code == '\r' || (code == '\n' && !after_cr)) {
                ++line;
            }
            after_cr = code == '\r';
            append_utf8(out, code);
        }
        return true;
    }

    bool command(std::string_view line) {
        if (line.empty()) {
            return true;
        }
        const std::string_view word = take_word(line);
        if (same_word(word, "FILE")) {
            return file(line);
        }
        if (same_word(word, "TRACK")) {
            return track(line);
        }
        if (same_word(word, "INDEX")) {
            return index(line);
        }
        if (same_word(word, "TITLE") || same_word(word, "PERFORMER")) {
            auto& sheet = result_.sheet;
            const bool title = same_word(word, "TITLE");
            if (sheet.tracks.empty()) {
                return text_value(line, title ? sheet.title : sheet.performer);
            }
            return text_value(line,
                              title ? sheet.tracks.back().title : sheet.tracks.back().performer);
        }
        const bool ignored =
            std::any_of(ignored_commands.begin(), ignored_commands.end(),
                        [&](std::string_view known) { return same_word(word, known); });
        return ignored || fail(CueError::unknown_command);
    }

    // A quoted or bare value; `rest` gets what follows a quoted one.
    bool value(std::string_view args, std::string& out, std::string_view& rest) {
        if (args.empty()) {
            return fail(CueError::no_value);
        }
        if (args.front() != '"') {
            out.assign(args);
            rest = {};
            return true;
        }
        const auto close = args.find('"', 1);
        if (close == std::string_view::npos) {
            return fail(CueError::no_closing_quote);
        }
        out.assign(args.substr(1, close - 1));
        rest = trim(args.substr(close + 1));
        return true;
    }

    bool text_value(std::string_view args, std::string& out) {
        std::string_view rest;
        return value(args, out, rest) && (rest.empty() || fail(CueError::text_after_value));
    }

    // Only the first FILE's tracks are the splitter's.
    bool file(std::string_view args) {
        std::string name;
        std::string_view type;
        if (!value(args, name, type)) {
            return false;
        }
        if (seen_file_) {
            done_ = true;
        }
        seen_file_ = true;
        return true;
    }

    bool track(std::string_view args) {
        if (!end_track()) {
            return false;
        }
        const auto digits = take_word(args);
        const auto type = take_word(args);
        if (digits.empty() || type.empty()) {
            return fail(CueError::no_value);
        }
        const auto n = number(digits, 2);
        if (!n || *n == 0 || *n > max_track) {
            return fail(CueError::bad_track);
        }
        if (!same_word(type, "AUDIO")) {
            return fail(CueError::not_audio);
        }
        if (!args.empty()) {
            return fail(CueError::text_after_value);
        }
        auto& tracks = result_.sheet.tracks;
        if (!tracks.empty() && *n <= tracks.back().number) {
            return fail(CueError::track_order);
        }
        CueTrack t;
        t.number = static_cast<unsigned>(*n);
        t.line = line_;
        tracks.push_back(std::move(t));
        last_index_.reset();
        has_start_ = false;
        return true;
    }

    bool index(std::string_view args) {
        auto& tracks = result_.sheet.tracks;
        if (tracks.empty()) {
            return fail(CueError::index_before_track);
        }
        const auto digits = take_word(args);
        const auto time = take_word(args);
        if (digits.empty() || time.empty()) {
            return fail(CueError::no_value);
        }
        const auto n = number(digits, 2);
        const auto frames = position(time);
        if (!n || !frames) {
            return fail(CueError::bad_index);
        }
        if (!args.empty()) {
            return fail(CueError::text_after_value);
        }
        if (last_index_ && *n <= *last_index_) {
            return fail(CueError::index_order);
        }
        // A track starts after the one before it: its sound is not empty.
        const bool start = *n == 1;
        if (*frames < last_position_ ||
            (start && tracks.size() > 1 && *frames == tracks[tracks.size() - 2].start.frames)) {
            return fail(CueError::position_order);
        }
        last_index_ = *n;
        last_position_ = *frames;
        if (*n == 0) {
            tracks.back().pregap = CueIndex{*frames, line_};
        } else if (start) {
            tracks.back().start = CueIndex{*frames, line_};
            has_start_ = true;
        } else {
            tracks.back().later.push_back(CueIndex{*frames, line_});
        }
        return true;
    }

    bool end_track() {
        if (result_.error != CueError::none) {
            return false;
        }
        const auto& tracks = result_.sheet.tracks;
        return tracks.empty() || has_start_ || fail(CueError::no_start_index, tracks.back().line);
    }

    CueResult result_;
    std::size_t line_ = 0;
    bool seen_file_ = false;
    bool done_ = false;
    bool has_start_ = false;
    std::optional<std::uint64_t> last_index_;
    std::uint64_t last_position_ = 0;
};

}  // namespace

CueResult parse_cue(std::string_view text) {
    return Parser().run(text);
}

}  // namespace dsd
