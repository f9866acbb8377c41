// DST (Direct Stream Transfer): the lossless compression of one-bit sound in
// DSDIFF files whose "CMPR" type is "DST ". This library decodes frames; it
// neither reads files nor prints. The container (the "DST " chunk of
// "FRTE", "DSTF" and "DSTC" chunks) belongs to the DSDIFF module.
//
// [The frame layout and the decoding process are documented here, once.]
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace dsd::dst {

inline constexpr unsigned max_channels = 6;
inline constexpr std::uint32_t frames_per_second = 75;

// The bytes per channel of one frame (L) at rate `fs`: fs / 600, or 0 when
// `fs` is no rate DST allows (44100 x a multiple of 8).
std::size_t frame_bytes_per_channel(std::uint32_t fs);

enum class FrameStatus { ok, damaged };

// Decodes frames of one geometry. Holds its scratch tables, so a decoder is
// made once per thread and reused for every frame; no allocation per frame.
class FrameDecoder {
  public:
    FrameDecoder(unsigned channels, std::size_t bytes_per_channel);
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Decodes one frame (the data of a "DSTF" chunk) into `sound`, which
    // holds channels x bytes_per_channel bytes, channel-interleaved as in a
    // "DSD " chunk. Never reads outside `frame`; on `damaged` the contents
    // of `sound` are unspecified.
    FrameStatus decode(std::span<const std::uint8_t> frame, std::span<std::uint8_t> sound);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The CPUs this process may run on (sched_getaffinity), at least 1.
unsigned available_threads();

// Decoding a whole stream of frames on several threads, in order.
//
// The source hands out the frames in file order; the sink takes the decoded
// sound of each frame in the same order. At most a bounded number of frames
// are in flight, so memory does not depend on the stream's length.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    enum class Next { frame, end, failed };
    // Fills `frame` with the next frame's bytes (resizing it as needed).
    virtual Next next(std::vector<std::uint8_t>& frame) = 0;
};

class SoundSink {
  public:
    virtual ~SoundSink() = default;
    // False when the sound could not be taken (the run stops).
    virtual bool take(std::span<const std::uint8_t> sound) = 0;
};

enum class StreamStatus { ok, damaged, source_failed, sink_failed };

struct StreamResult {
    StreamStatus status = StreamStatus::ok;
    std::uint64_t frames = 0;  // decoded and taken; on damaged: the damaged frame's index
};

// Stops at the first damaged frame (in file order), source or sink failure.
// `threads` 0 means available_threads(). The sink sees the same bytes for
// any number of threads.
StreamResult decode_stream(FrameSource& source, SoundSink& sink, unsigned channels,
                           std::size_t bytes_per_channel, unsigned threads = 0);

}  // namespace dsd::dst
