// DST (Direct Stream Transfer): the lossless compression of one-bit sound in
// DSDIFF files whose "CMPR" type is "DST ". This library decodes frames; it
// neither reads files nor prints. The container (the "DST " chunk of
// "FRTE", "DSTF" and "DSTC" chunks) belongs to the DSDIFF module.
//
// A frame is 1/75 s of N channels (1 to 6) at rate FS, a multiple of
// 8 x 44100 Hz: L = FS / 600 bytes per channel, decoded to N x L bytes laid
// out as in a "DSD " chunk (byte i of channel c at i x N + c, earliest
// sample in the most significant bit). Frames are independent.
//
// Bits are read most significant first; a signed field is two's complement;
// bits(x) is the width of x (bits(0) = 0, bits(4) = 3).
//
//   coded (1)       0: stored: 1 ignored bit, 6 zero bits, then the N x L
//                   bytes of sound; anything after them is ignored.
//   tables_same_segmentation (1), filter segmentation, [table segmentation]
//     segmentation: same_for_all (1); per channel (once when same_for_all)
//       a list of explicit segments, each introduced by a 0 bit and ended by
//       a 1 bit; a segment is read as a length in units of `resolution`
//       bytes. `resolution` (bits(L - min/8) bits, 1 .. L - min/8) is read
//       before the first length of the segmentation and shared. A length
//       takes bits(room / resolution) bits, room being L - min/8 less the
//       bytes already defined in the channel; a segment must be at least
//       min bits and leave at least min bits after it. The rest of the
//       channel is one more segment.
//       Filters: min 1024 bits, 4 explicit segments; tables: min 32 bits, 8.
//       Per channel only max - 1 explicit segments fit, since the limit is
//       checked before each end bit; same_for_all allows the full max.
//   tables_same_mapping (1), filter mapping, [table mapping]
//     mapping: same_for_all (1), then one number per segment but the first
//       of channel 0 (which is 0), bits(count) bits each, where count is
//       the numbers introduced so far: count itself introduces a new one.
//       With same_for_all, channel 0's numbers serve every channel (all
//       must have as many segments). At most 2 x N filters and 2 x N
//       tables. Tables that share the filter mapping need as many segments.
//   half_probability (1 per channel)
//   per filter: order - 1 (7), rice (1); raw: order signed 9-bit values;
//     Rice: method (2, not 3), method + 1 < order raw values, m (3), the
//     rest as signed Rice numbers (a unary run of zeros ended by a one, m
//     low bits, a sign bit when nonzero, 1 negative) added to the
//     prediction -floor((x + 4) / 8), x = sum of P[method][t] x coef[i-t-1],
//     P = {-8}, {-16, 8}, {-9, -5, 6}; each value in -256 .. 255.
//   per table: length - 1 (6); length 1 is the entry 128 and nothing else;
//     else rice (1) and entries of 7 bits + 1 coded as the coefficients,
//     with Q = {-8}, {-16, 8}, {-24, 24, -8}; each entry in 1 .. 128.
//   arithmetic-coded data to the end of the frame: D bits, the first 0;
//     bits past its end read as 0.
//
// Decoding: each channel keeps its last 128 bits h[0..127] (h[0] newest),
// 0xAA bytes at the start of a frame. The prediction with filter f is
// sum coef[j] x (2 h[j] - 1), taken modulo 2^16 as signed; the probability
// p is 128 for the first order(first filter of the channel) bits of a
// half-probability channel, else entry[min(|prediction| >> 3, length - 1)]
// of the bit's table. The decoder keeps A (4095) and C (code bits 1 to 12);
// a bit with probability p: w = A >> 8 | (A >> 7 & 1), q = w x p,
// h = A - q; C >= h gives r = 0 (C -= h, A = q), else r = 1 (A = h); then
// A and C double, C taking the next code bit, until A >= 2048. A first bit
// is decoded and dropped, its p the 7 low bits of filter 0's first
// coefficient in reverse order, plus 1; then, bit by bit, all channels of
// a bit before the next, the sound bit is r XOR the sign of the prediction
// (1 when negative). At the end, the next code bit to read (bit 13 at the
// start) must lie within D - 7 .. D + 176.
//
// A violated limit or check, a frame ending inside its header, a stored
// frame shorter than its sound and a compressed frame longer than
// max_frame_bytes make the frame damaged.
#pragma once

#include <array>
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

// No valid compressed frame is longer: its coded data takes at most 8 bits
// per decoded bit (8 x N x L bytes), and its header at most 50000 bytes
// per channel (2 filters of 128 and 2 tables of 64 Rice-coded values per
// channel, each value at most 1026 bits). A longer frame is damaged unless
// it is stored, and a stored frame's bytes past its sound are ignored; so
// a source may hand out only the first max_frame_bytes() + 1 bytes of a
// longer frame without changing the result.
std::size_t max_frame_bytes(unsigned channels, std::size_t bytes_per_channel);

enum class FrameStatus { ok, damaged };

// Decodes frames of one geometry. Holds its scratch tables, so a decoder is
// made once per thread and reused for every frame; no allocation per frame.
class FrameDecoder {
  public:
    // `channels` 1 to 6 and `bytes_per_channel` = frame_bytes_per_channel()
    // of an allowed rate; with any other geometry every frame is damaged.
    FrameDecoder(unsigned channels, std::size_t bytes_per_channel);
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Decodes one frame (the data of a "DSTF" chunk) into `sound`, which
    // holds channels x bytes_per_channel bytes (else the frame is reported
    // damaged), channel-interleaved as in a "DSD " chunk. Never reads
    // outside `frame`; on `damaged` the contents of `sound` are unspecified.
    FrameStatus decode(std::span<const std::uint8_t> frame, std::span<std::uint8_t> sound);

    // A frame to decode into its sound, and the outcome.
    struct Job {
        std::span<const std::uint8_t> frame;
        std::span<std::uint8_t> sound;
        FrameStatus status = FrameStatus::damaged;
    };
    // Frames decoded together at most: two are nearly twice as fast as one,
    // three a little faster again; with four the registers run out.
    static constexpr std::size_t max_together = 3;
    // Decodes every job's frame, as one call each would, but up to
    // max_together at once: one frame's decoding is a long chain of
    // dependent steps that leaves most of a core idle, and several run
    // almost as fast as one.
    void decode(std::span<Job> jobs);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The CPUs this process may run on (sched_getaffinity), at least 1.
unsigned available_threads();

// Decoding a whole stream of frames on several threads, in order.
//
// The source hands out the frames in file order; the sink takes the decoded
// sound of each frame in the same order. Both are called from the thread
// that called decode_stream only. At most (max_together + 1) x threads + 2
// frames are in flight, their buffers reused, so memory does not depend on
// the stream's length.
class FrameSource {
  public:
    virtual ~FrameSource() = default;
    enum class Next { frame, end, failed };
    // Fills `frame` with the next frame's bytes (resizing it as needed; see
    // max_frame_bytes for frames that need not be read whole).
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

// Stops at the first damaged frame (in file order), source or sink failure,
// as a decoding in order would: the sink has then taken every frame before
// it. `threads` 0 means available_threads(); with 1 the frames are decoded
// on the calling thread. The sink sees the same bytes for any number of
// threads.
StreamResult decode_stream(FrameSource& source, SoundSink& sink, unsigned channels,
                           std::size_t bytes_per_channel, unsigned threads = 0);

}  // namespace dsd::dst
