// Frames decoded by worker threads in a ring of slots: the calling thread
// fills free slots from the source in file order, the workers claim them in
// the same order, two at a time when they can (a decoder runs two frames
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
        : slots_(4 * static_cast<std::size_t>(threads) + 2) {
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
            work_ready_.wait(lock, [&] { return stopping_ || claimed_ < submitted_; });
            if (stopping_) {
                return;
            }
            Slot& s = slot(claimed_++);
            Slot* t = claimed_ < submitted_ ? &slot(claimed_++) : nullptr;
            lock.unlock();
            std::array<FrameStatus, 2> status{};
            if (t != nullptr) {
                status = decoder.decode(s.frame, s.sound, t->frame, t->sound);
            } else {
                status[0] = decoder.decode(s.frame, s.sound);
            }
            lock.lock();
            s.status = status[0];
            s.done = true;
            if (t != nullptr) {
                t->status = status[1];
                t->done = true;
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
};

StreamResult decode_inline(FrameSource& source, SoundSink& sink, unsigned channels,
                           std::size_t bytes_per_channel) {
    FrameDecoder decoder(channels, bytes_per_channel);
    std::array<std::vector<std::uint8_t>, 2> frames;
    std::array<std::vector<std::uint8_t>, 2> sounds;
    for (auto& sound : sounds) {
        sound.resize(channels * bytes_per_channel);
    }
    StreamResult result;
    for (;;) {
        // Up to two frames, decoded together.
        std::size_t read = 0;
        FrameSource::Next last = FrameSource::Next::frame;
        while (read < 2 && (last = source.next(frames[read])) == FrameSource::Next::frame) {
            ++read;
        }
        std::array<FrameStatus, 2> status{};
        if (read == 2) {
            status = decoder.decode(frames[0], sounds[0], frames[1], sounds[1]);
        } else if (read == 1) {
            status[0] = decoder.decode(frames[0], sounds[0]);
        }
        for (std::size_t k = 0; k < read; ++k, ++result.frames) {
            if (status[k] == FrameStatus::damaged) {
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
