// Frames decoded by worker threads in a ring of slots: the calling thread
// fills free slots from the source in file order, the workers claim them in
// the same order, several at a time when they can (a decoder runs several frames
// almost as fast as one), and the calling thread hands each finished slot
// to the sink before reusing it. The ring's size bounds the memory.
#include <sched.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "dst.hpp"

namespace dsd::dst {
namespace {

struct Slot {
    std::vector<std::uint8_t> frame;
    std::vector<std::uint8_t> sound;
    FrameStatus status = FrameStatus::ok;
    bool done = false;
};

class Workers {
  public:
    Workers(unsigned threads, unsigned channels, std::size_t bytes_per_channel)
        : slots_((FrameDecoder::max_together + 1) * static_cast<std::size_t>(threads) + 2) {
        for (Slot& slot : slots_) {
            slot.sound.resize(channels * bytes_per_channel);
        }
        threads_.reserve(threads);
        // Where the system refuses more threads, those it gave do the work.
        try {
            for (unsigned i = 0; i < threads; ++i) {
                threads_.emplace_back(
                    [this, channels, bytes_per_channel] { work(channels, bytes_per_channel); });
            }
        } catch (const std::system_error&) {
        }
    }

    ~Workers() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        work_ready_.notify_all();
        for (std::thread& t : threads_) {
            t.join();
        }
    }

    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    std::size_t size() const { return slots_.size(); }
    bool started() const { return !threads_.empty(); }
    Slot& slot(std::uint64_t frame) { return slots_[frame % slots_.size()]; }

    // The slot of frame `submitted_` is filled: the workers may take it.
    void submit() {
        {
            const std::lock_guard lock(mutex_);
            slot(submitted_).done = false;
            ++submitted_;
        }
        work_ready_.notify_one();
    }

    // No frame follows those submitted.
    void end() {
        {
            const std::lock_guard lock(mutex_);
            no_more_ = true;
        }
        work_ready_.notify_all();
    }

    // The frame's slot once it is decoded. A frame not yet claimed has at
    // least a group of frames after it submitted, or is among the last.
    Slot& wait_for(std::uint64_t frame) {
        Slot& s = slot(frame);
        std::unique_lock lock(mutex_);
        frame_done_.wait(lock, [&] { return s.done; });
        return s;
    }

  private:
    void work(unsigned channels, std::size_t bytes_per_channel) {
        FrameDecoder decoder(channels, bytes_per_channel);
        std::unique_lock lock(mutex_);
        for (;;) {
            // A whole group when one can come: frames decoded alone are slower.
            work_ready_.wait(lock, [&] {
                return stopping_ || submitted_ - claimed_ >= FrameDecoder::max_together ||
                       (no_more_ && claimed_ < submitted_);
            });
            if (stopping_) {
                return;
            }
            std::array<Slot*, FrameDecoder::max_together> taken{};
            std::array<FrameDecoder::Job, FrameDecoder::max_together> jobs;
            std::size_t count = 0;
            for (; count < taken.size() && claimed_ < submitted_; ++count) {
                taken[count] = &slot(claimed_++);
                jobs[count] = {taken[count]->frame, taken[count]->sound};
            }
            lock.unlock();
            decoder.decode(std::span(jobs).first(count));
            lock.lock();
            for (std::size_t k = 0; k < count; ++k) {
                taken[k]->status = jobs[k].status;
                taken[k]->done = true;
            }
            frame_done_.notify_all();
        }
    }

    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable frame_done_;
    std::uint64_t submitted_ = 0;
    std::uint64_t claimed_ = 0;
    bool stopping_ = false;
    bool no_more_ = false;
};

StreamResult decode_inline(FrameSource& source, SoundSink& sink, unsigned channels,
                           std::size_t bytes_per_channel) {
    FrameDecoder decoder(channels, bytes_per_channel);
    std::array<std::vector<std::uint8_t>, FrameDecoder::max_together> frames;
    std::array<std::vector<std::uint8_t>, FrameDecoder::max_together> sounds;
    std::array<FrameDecoder::Job, FrameDecoder::max_together> jobs;
    for (auto& sound : sounds) {
        sound.resize(channels * bytes_per_channel);
    }
    StreamResult result;
    for (;;) {
        // As many frames as are decoded together.
        std::size_t read = 0;
        FrameSource::Next last = FrameSource::Next::frame;
        while (read < frames.size() &&
               (last = source.next(frames[read])) == FrameSource::Next::frame) {
            jobs[read] = {frames[read], sounds[read]};
            ++read;
        }
        decoder.decode(std::span(jobs).first(read));
        for (std::size_t k = 0; k < read; ++k, ++result.frames) {
            if (jobs[k].status == FrameStatus::damaged) {
                result.status = StreamStatus::damaged;
                return result;
            }
            if (!sink.take(sounds[k])) {
                result.status = StreamStatus::sink_failed;
                return result;
            }
        }
        if (last != FrameSource::Next::frame) {
            result.status =
                last == FrameSource::Next::end ? StreamStatus::ok : StreamStatus::source_failed;
            return result;
        }
    }
}

}  // namespace

unsigned available_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

StreamResult decode_stream(FrameSource& source, SoundSink& sink, unsigned channels,
                           std::size_t bytes_per_channel, unsigned threads) {
    if (threads == 0) {
        threads = available_threads();
    }
    if (threads == 1) {
        return decode_inline(source, sink, channels, bytes_per_channel);
    }
    Workers workers(threads, channels, bytes_per_channel);
    if (!workers.started()) {
        return decode_inline(source, sink, channels, bytes_per_channel);
    }
    std::uint64_t submitted = 0;
    bool source_ended = false;
    StreamStatus end_status = StreamStatus::ok;
    StreamResult result;
    for (;; ++result.frames) {
        while (!source_ended && submitted - result.frames < workers.size()) {
            switch (source.next(workers.slot(submitted).frame)) {
                case FrameSource::Next::frame:
                    workers.submit();
                    ++submitted;
                    continue;
                case FrameSource::Next::end:
                    break;
                case FrameSource::Next::failed:
                    end_status = StreamStatus::source_failed;
                    break;
            }
            source_ended = true;
            workers.end();
        }
        if (result.frames == submitted) {
            result.status = end_status;
            return result;
        }
        const Slot& s = workers.wait_for(result.frames);
        if (s.status == FrameStatus::damaged) {
            result.status = StreamStatus::damaged;
            return result;
        }
        if (!sink.take(s.sound)) {
            result.status = StreamStatus::sink_failed;
            return result;
        }
    }
}

}  // namespace dsd::dst
