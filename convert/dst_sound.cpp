#include "dst_sound.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace dsd {
namespace {

// The frames of the chunk in file order, those of `range` only.
class ChunkFrames final : public dst::FrameSource {
  public:
    ChunkFrames(const ByteSource& source, const DstSound& sound, ProgressCounter* progress,
                DstFrameRange range)
        : reader_(source, sound.chunk),
          max_frame_(dst::max_frame_bytes(sound.channels, sound.frame_bytes) + 1),
          progress_(progress),
          range_(range) {}

    Next next(std::vector<std::uint8_t>& frame) override {
        for (;;) {
            if (index_ >= range_.end) {
                return Next::end;
            }
            switch (reader_.next(frame, max_frame_)) {
                case DffDstFrameReader::Next::frame:
                    if (progress_ != nullptr) {
                        progress_->add(frame.size());
                    }
                    if (index_++ < range_.first) {
                        continue;
                    }
                    return Next::frame;
                case DffDstFrameReader::Next::end:
                    return Next::end;
                case DffDstFrameReader::Next::unreadable:
                    break;
            }
            return Next::failed;
        }
    }

    std::uint64_t failed_at() const { return reader_.failed_at(); }

  private:
    DffDstFrameReader reader_;
    std::uint64_t max_frame_;
    ProgressCounter* progress_;
    DstFrameRange range_;
    std::uint64_t index_ = 0;  // of the next frame read
};

}  // namespace

SoundCoding sound_coding(const DffWalk& walk) {
    const bool dst_type = walk.compression && has_id(*walk.compression, "DST ");
    if (walk.compression && !dst_type) {
        return SoundCoding::other;
    }
    if (!walk.sound) {
        return dst_type ? SoundCoding::dst : SoundCoding::plain;
    }
    if (walk.sound_is_dst != dst_type) {
        return SoundCoding::other;
    }
    return dst_type ? SoundCoding::dst : SoundCoding::plain;
}

ChunkId compression_type(const DffWalk& walk) {
    return walk.compression.value_or(ChunkId{'D', 'S', 'T', ' '});
}

DstCheck check_dst_sound(const ByteSource& source, const DffWalk& walk) {
    DstCheck check;
    check.sound.chunk = *walk.sound;
    check.sound.channels = walk.channel_count;
    check.sound.frame_bytes = dst::frame_bytes_per_channel(walk.rate);
    if (check.sound.frame_bytes == 0) {
        check.error = DstError::wrong_rate;
        return check;
    }
    check.frames = walk_dff_dst(source, *walk.sound);
    check.sound.frames = check.frames.frames;
    if (check.frames.error != DffWalkError::none) {
        check.error = DstError::walk;
    } else if (!check.frames.has_frame_table) {
        check.error = DstError::no_frame_table;
    } else if (check.frames.frames != check.frames.frame_count) {
        check.error = DstError::frame_count;
    }
    return check;
}

WriteResult decode_dst_sound(int in, const DstSound& sound, dst::SoundSink& sink, int out,
                             unsigned threads, ProgressCounter* progress, DstFrameRange range) {
    range.end = std::min(range.end, sound.frames);
    range.first = std::min(range.first, range.end);
    const ByteSource source = file_source(in, sound.chunk.offset + sound.chunk.size);
    ChunkFrames frames(source, sound, progress, range);
    const dst::StreamResult result =
        dst::decode_stream(frames, sink, sound.channels, sound.frame_bytes, threads);
    switch (result.status) {
        case dst::StreamStatus::ok:
            break;
        case dst::StreamStatus::damaged:
            return {WriteStatus::damaged_frame,
                    static_cast<std::int64_t>(range.first + result.frames)};
        case dst::StreamStatus::source_failed:
            return {WriteStatus::read_failed, static_cast<std::int64_t>(frames.failed_at())};
        case dst::StreamStatus::sink_failed:
            return write_failure(out);
    }
    // Fewer frames than the walk counted: the file changed since.
    if (result.frames != range.end - range.first) {
        return {WriteStatus::read_failed,
                static_cast<std::int64_t>(sound.chunk.offset + sound.chunk.size)};
    }
    return {};
}

unsigned dst_threads_from_environment() {
    const char* value = std::getenv("DSD_THREADS");
    if (value == nullptr) {
        return 0;
    }
    const std::string_view text(value);
    if (text.empty() || text.size() > 4) {
        return 0;
    }
    unsigned count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        count = count * 10 + static_cast<unsigned>(c - '0');
    }
    return count <= max_dst_threads ? count : 0;
}

}  // namespace dsd
