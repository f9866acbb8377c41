#include "progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <system_error>

namespace dsd {
namespace {

// A conversion shorter than this shows nothing.
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
    const auto whole = static_cast<unsigned long>(seconds + 0.5);
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

// Columns a UTF-8 text takes: one per character, counted by lead bytes.
std::size_t columns(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
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

// The first `width` columns of `text`.
std::string head(std::string_view text, std::size_t width) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && seen++ == width) {
            break;
        }
    }
    return std::string(text.substr(0, end));
}

// The last columns of `text` that fit in `width`, behind "..." when cut.
std::string tail(std::string_view text, std::size_t width) {
    if (columns(text) <= width) {
        return std::string(text);
    }
    if (width <= 3) {
        return std::string(std::min<std::size_t>(width, 3), '.');
    }
    std::size_t begin = text.size();
    std::size_t kept = 0;
    for (std::size_t i = text.size(); i > 0; --i) {
        if ((static_cast<unsigned char>(text[i - 1]) & 0xC0) != 0x80) {
            if (kept == width - 3) {
                break;
            }
            ++kept;
            begin = i - 1;
        }
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
    if (shown_ && plan_.slots == 1) {
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
        if (s.busy && now - s.started >= first_update) {
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
