// How far a run has got, on one line at the foot of standard error while it
// is a terminal: never otherwise, so scripts and logs see nothing of it.
//
// The conversion loops only add to a counter; a thread of the display reads
// the counters, the clock and the terminal's width a few times a second, so
// the loops never pay for any of that.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console.hpp"

namespace dsd {

// Input bytes a conversion has got through.
class ProgressCounter {
  public:
    void add(std::uint64_t bytes) noexcept { done_.fetch_add(bytes, std::memory_order_relaxed); }
    std::uint64_t done() const noexcept { return done_.load(std::memory_order_relaxed); }
    void reset() noexcept { done_.store(0, std::memory_order_relaxed); }

  private:
    std::atomic<std::uint64_t> done_{0};
};

// The two lines the display shows. `width` is the terminal's in columns;
// the line is cut to fit in one column less, so the cursor never wraps.
// A file: its name, percentage, throughput and time left ("3/12 " in front
// when it is one of several converted one after another).
std::string file_progress_line(std::string_view name, std::size_t number, std::size_t files,
                               std::uint64_t done, std::uint64_t total, double seconds,
                               std::size_t width);
// Files converted side by side: files done and failed, bytes done of all.
std::string batch_progress_line(std::size_t finished, std::size_t failed, std::size_t files,
                                std::uint64_t done, std::uint64_t total, double seconds,
                                std::size_t width);

class ProgressDisplay {
  public:
    struct Plan {
        std::size_t files = 1;
        std::uint64_t total_bytes = 0;  // of all inputs; for the batch line
        unsigned slots = 1;             // files converted at once
    };
    // Shows nothing unless `shown`; see terminal_attached().
    ProgressDisplay(Console& console, const Plan& plan, bool shown);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    // Whether standard error is a terminal.
    static bool terminal_attached();

    // Slot `slot` (below plan.slots) starts on the input `name`, file
    // `number` (from 1) of the plan's, of `size` bytes; its loop adds to the
    // counter returned until finish(slot).
    ProgressCounter& start(unsigned slot, std::size_t number, std::string_view name,
                           std::uint64_t size);
    // The slot's file is done. A file's line, if any, is erased after the
    // plan's last file; before, the next file's line replaces it.
    void finish(unsigned slot, bool failed);

  private:
    using Clock = std::chrono::steady_clock;
    struct Slot {
        ProgressCounter counter;
        std::string name;
        std::uint64_t size = 0;
        std::size_t number = 0;
        Clock::time_point started;
        bool busy = false;
    };

    void run();
    void update(Clock::time_point now);
    std::uint64_t slot_done(const Slot& slot) const;

    Console& console_;
    Plan plan_;
    bool shown_;
    Clock::time_point begun_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::unique_ptr<Slot[]> slots_;
    std::size_t finished_ = 0;
    std::size_t failed_ = 0;
    std::uint64_t finished_bytes_ = 0;
    std::thread thread_;
};

}  // namespace dsd
