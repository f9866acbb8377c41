#include "progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <system_error>

#include "utf8.hpp"

namespace dsd {
namespace {

// A run shorter than this shows nothing. It counts from the run's start,
// not the file's, so that a batch of short files shows its line too.
constexpr auto first_update = std::chrono::seconds(1);
constexpr auto update_period = std::chrono::milliseconds(250);
constexpr std::size_t default_width = 80;

std::string amount(double bytes) {
    static constexpr const char* units[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    std::size_t unit = 0;
    while (bytes >= 1000 && unit + 1 < std::size(units)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%.0f %s", bytes, units[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    }
    return text;
}

std::string duration(double seconds) {
    if (!(seconds >= 0) || seconds >= 100.0 * 3600) {
        return "--:--";
    }
    const auto whole = static_cast<unsigned long>(std::lround(seconds));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lu:%02lu", whole / 60, whole % 60);
    }
    return text;
}

// "12.3 MB/s, 0:12 left": the throughput so far and the time the rest takes
// at that pace.
std::string pace(std::uint64_t done, std::uint64_t total, double seconds, std::string_view gap) {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::string text = amount(rate) + "/s";
    text += gap;
    const std::uint64_t left = total > done ? total - done : 0;
    text += rate > 0 ? duration(static_cast<double>(left) / rate) : "--:--";
    text += " left";
    return text;
}

// Characters that take other than one column of a terminal: East Asian
// Wide and Fullwidth ones two, combining marks and zero-width spaces none.
struct ColumnSpan {
    char32_t first;
    char32_t last;
    std::size_t columns;
};
// Where in doubt a character counts two: a line a column short is harmless,
// one a column long wraps.
constexpr ColumnSpan column_spans[] = {
    {0x0300, 0x036F, 0},   {0x1100, 0x115F, 2},   {0x1AB0, 0x1AFF, 0},   {0x1DC0, 0x1DFF, 0},
    {0x200B, 0x200F, 0},   {0x20D0, 0x20FF, 0},   {0x231A, 0x231B, 2},   {0x2329, 0x232A, 2},
    {0x23E9, 0x23EC, 2},   {0x23F0, 0x23F0, 2},   {0x23F3, 0x23F3, 2},   {0x25FD, 0x25FE, 2},
    {0x2614, 0x2615, 2},   {0x2648, 0x2653, 2},   {0x267F, 0x267F, 2},   {0x2693, 0x2693, 2},
    {0x26A1, 0x26A1, 2},   {0x26AA, 0x26AB, 2},   {0x26BD, 0x26BE, 2},   {0x26C4, 0x26C5, 2},
    {0x26CE, 0x26CE, 2},   {0x26D4, 0x26D4, 2},   {0x26EA, 0x26EA, 2},   {0x26F2, 0x26F3, 2},
    {0x26F5, 0x26F5, 2},   {0x26FA, 0x26FA, 2},   {0x26FD, 0x26FD, 2},   {0x2705, 0x2705, 2},
    {0x270A, 0x270B, 2},   {0x2728, 0x2728, 2},   {0x274C, 0x274C, 2},   {0x274E, 0x274E, 2},
    {0x2753, 0x2755, 2},   {0x2757, 0x2757, 2},   {0x2795, 0x2797, 2},   {0x27B0, 0x27B0, 2},
    {0x27BF, 0x27BF, 2},   {0x2B1B, 0x2B1C, 2},   {0x2B50, 0x2B50, 2},   {0x2B55, 0x2B55, 2},
    {0x2E80, 0x303E, 2},   {0x3041, 0x33FF, 2},   {0x3400, 0x4DBF, 2},   {0x4E00, 0x9FFF, 2},
    {0xA000, 0xA4CF, 2},   {0xA960, 0xA97F, 2},   {0xAC00, 0xD7A3, 2},   {0xF900, 0xFAFF, 2},
    {0xFE10, 0xFE19, 2},   {0xFE20, 0xFE2F, 0},   {0xFE30, 0xFE6F, 2},   {0xFF00, 0xFF60, 2},
    {0xFFE0, 0xFFE6, 2},   {0x16FE0, 0x16FFF, 2}, {0x17000, 0x18CFF, 2}, {0x18D00, 0x18D7F, 2},
    {0x1AFF0, 0x1B2FF, 2}, {0x1F004, 0x1F004, 2}, {0x1F0CF, 0x1F0CF, 2}, {0x1F18E, 0x1F18E, 2},
    {0x1F191, 0x1F19A, 2}, {0x1F200, 0x1F265, 2}, {0x1F300, 0x1F64F, 2}, {0x1F680, 0x1F6FF, 2},
    {0x1F7E0, 0x1F7EB, 2}, {0x1F90C, 0x1F9FF, 2}, {0x1FA70, 0x1FAFF, 2}, {0x20000, 0x2FFFD, 2},
    {0x30000, 0x3FFFD, 2},
};
static_assert(std::ranges::adjacent_find(column_spans,
                                         [](const auto& a, const auto& b) {
                                             return a.last >= b.first;
                                         }) == std::end(column_spans),
              "sorted, apart");

std::size_t columns_of(char32_t code) {
    const auto* span = std::ranges::lower_bound(column_spans, code, {}, &ColumnSpan::last);
    return span != std::end(column_spans) && span->first <= code ? span->columns : 1;
}

// A character on the terminal: its bytes and the columns it takes.
struct Glyph {
    std::size_t bytes;
    std::size_t columns;
};

// The character `text` starts with. A byte that starts no valid UTF-8
// character is a character of one column: terminals show a mark for it, at
// most one a byte.
Glyph first_glyph(std::string_view text) {
    const Utf8Char c = first_utf8_char(text);
    return c.bytes == 0 ? Glyph{1, 1} : Glyph{c.bytes, columns_of(c.code)};
}

// Columns a UTF-8 text takes on a terminal.
std::size_t columns(std::string_view text) {
    std::size_t total = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Glyph glyph = first_glyph(text.substr(at));
        at += glyph.bytes;
        total += glyph.columns;
    }
    return total;
}

// A file name for the terminal: control bytes would move the cursor.
std::string printable(std::string_view name) {
    std::string text(name);
    for (auto& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return text;
}

// The first whole characters of `text` that fit in `width` columns.
std::string head(std::string_view text, std::size_t width) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size();) {
        const Glyph glyph = first_glyph(text.substr(end));
        if (seen + glyph.columns > width) {
            break;
        }
        seen += glyph.columns;
        end += glyph.bytes;
    }
    return std::string(text.substr(0, end));
}

// The last whole characters of `text` that fit in `width` columns, behind
// "..." when cut.
std::string tail(std::string_view text, std::size_t width) {
    std::size_t left = columns(text);
    if (left <= width) {
        return std::string(text);
    }
    if (width <= 3) {
        return std::string(std::min<std::size_t>(width, 3), '.');
    }
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Glyph glyph = first_glyph(text.substr(begin));
        // Marks that combined with a character cut off go with it.
        if (left <= width - 3 && glyph.columns != 0) {
            break;
        }
        begin += glyph.bytes;
        left -= glyph.columns;
    }
    return "..." + std::string(text.substr(begin));
}

std::size_t terminal_width() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return default_width;
}

}  // namespace

std::string file_progress_line(std::string_view name, std::size_t number, std::size_t files,
                               std::uint64_t done, std::uint64_t total, double seconds,
                               std::size_t width) {
    const std::size_t room = width > 1 ? width - 1 : 0;
    std::string front;
    if (files > 1) {
        front = std::to_string(number) + "/" + std::to_string(files) + " ";
    }
    const auto percent = total != 0 ? std::min<std::uint64_t>(done, total) * 100 / total : 100;
    const std::string back =
        "  " + std::to_string(percent) + "%  " + pace(done, total, seconds, "  ");
    const std::size_t fixed = columns(front) + columns(back);
    // The numbers matter more than the whole name.
    constexpr std::size_t least_name = 8;
    if (room < fixed + least_name) {
        return head(front + printable(name) + back, room);
    }
    return front + tail(printable(name), room - fixed) + back;
}

std::string batch_progress_line(std::size_t finished, std::size_t failed, std::size_t files,
                                std::uint64_t done, std::uint64_t total, double seconds,
                                std::size_t width) {
    std::string line = std::to_string(finished) + " of " + std::to_string(files) + " files, " +
                       std::to_string(failed) + " failed, " + amount(static_cast<double>(done)) +
                       " of " + amount(static_cast<double>(total)) + ", " +
                       pace(done, total, seconds, ", ");
    return head(line, width > 1 ? width - 1 : 0);
}

ProgressDisplay::ProgressDisplay(Console& console, const Plan& plan, bool shown)
    : console_(console),
      plan_(plan),
      shown_(shown),
      begun_(Clock::now()),
      slots_(std::make_unique<Slot[]>(std::max(1u, plan.slots))) {
    plan_.slots = std::max(1u, plan.slots);
    if (shown_) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            shown_ = false;  // no thread to spare: no display
        }
    }
}

ProgressDisplay::~ProgressDisplay() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    if (shown_) {
        console_.hide_status();
    }
}

bool ProgressDisplay::terminal_attached() {
    return ::isatty(STDERR_FILENO) == 1;
}

ProgressCounter& ProgressDisplay::start(unsigned slot, std::size_t number, std::string_view name,
                                        std::uint64_t size) {
    const std::lock_guard lock(mutex_);
    Slot& s = slots_[slot];
    s.counter.reset();
    s.name = name;
    s.size = size;
    s.number = number;
    // Once per file: the loops themselves never read the clock.
    s.started = Clock::now();
    s.busy = true;
    return s.counter;
}

void ProgressDisplay::finish(unsigned slot, bool failed) {
    const std::lock_guard lock(mutex_);
    Slot& s = slots_[slot];
    s.busy = false;
    ++finished_;
    failed_ += failed ? 1 : 0;
    finished_bytes_ += s.size;
    // Between files one after another the line stays until the next file's
    // replaces it: erased each time, the line of short files would flicker.
    if (shown_ && plan_.slots == 1 && finished_ >= plan_.files) {
        console_.hide_status();
    }
}

std::uint64_t ProgressDisplay::slot_done(const Slot& slot) const {
    return std::min(slot.counter.done(), slot.size);
}

void ProgressDisplay::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, update_period, [this] { return stopping_; });
        if (!stopping_) {
            update(Clock::now());
        }
    }
}

void ProgressDisplay::update(Clock::time_point now) {
    const auto seconds = [&](Clock::time_point since) {
        return std::chrono::duration<double>(now - since).count();
    };
    if (plan_.slots == 1) {
        const Slot& s = slots_[0];
        if (s.busy && now - begun_ >= first_update) {
            console_.show_status(file_progress_line(s.name, s.number, plan_.files, slot_done(s),
                                                    s.size, seconds(s.started), terminal_width()));
        }
        return;
    }
    if (now - begun_ < first_update) {
        return;
    }
    std::uint64_t done = finished_bytes_;
    for (unsigned i = 0; i < plan_.slots; ++i) {
        if (slots_[i].busy) {
            done += slot_done(slots_[i]);
        }
    }
    console_.show_status(batch_progress_line(finished_, failed_, plan_.files, done,
                                             std::max(plan_.total_bytes, done), seconds(begun_),
                                             terminal_width()));
}

}  // namespace dsd
