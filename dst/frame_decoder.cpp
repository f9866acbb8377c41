// Decoding one frame. The prediction of a bit is split at the start of its
// byte: the history bits of the earlier bytes give, once per byte, the
// partial sums of all 8 bit positions of the byte together (8 lanes of 16
// bits in two 64-bit words, one lookup per history byte the filter's order
// reaches); the bits already decoded in the current byte add one lookup per
// bit. So a filter of order k costs ceil(k / 8) / 8 lookups per bit.
#include <algorithm>
#include <array>
#include <bit>
#include <vector>

#include "dst.hpp"
#include "frame_header.hpp"

namespace dsd::dst {

using detail::FrameHeader;
using detail::max_numbers;
using detail::max_order;

namespace {

constexpr std::size_t history_bytes = max_order / 8;
constexpr std::size_t groups_max = history_bytes;
constexpr std::uint8_t start_history = 0xAA;  // h[j] = 1 for odd j
// Every group's lanes are biased by this to stay non-negative, so that the
// lanes of a word add without borrows; sums stay below 2^16 except for
// offset 0 of the filter whose 128 coefficients are all -256, and that lane
// sits at the top of its word, where its carry falls off.
constexpr std::uint32_t group_bias = 2048;
constexpr std::uint64_t lane_ones = 0x0001000100010001;

// A condition no branch predictor can guess: the compiler is asked to pick
// with conditional moves instead.
#if defined(__GNUC__)
#define DSD_DST_RANDOM(condition) __builtin_expect_with_probability((condition), 1, 0.5)
#else
#define DSD_DST_RANDOM(condition) (condition)
#endif

constexpr unsigned lane_shift(unsigned offset) {
    return 16 * ((offset + 3) % 4);
}

std::uint32_t load_be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// q = w x p and the doublings that bring it back to 2048 .. 4095, for each
// probability p and each A >> 7 (16 .. 31), at (p << 4) + (A >> 7): the
// doubled q in the low 12 bits, their count above.
constexpr std::size_t q_index_end = (128 << 4) + 32;
constexpr std::array<std::uint16_t, q_index_end> make_normalized_q() {
    std::array<std::uint16_t, q_index_end> table{};
    for (std::uint32_t p = 1; p <= 128; ++p) {
        for (std::uint32_t a7 = 16; a7 < 32; ++a7) {
            std::uint32_t q = ((a7 >> 1) | (a7 & 1)) * p;
            std::uint32_t doublings = 0;
            while (q < 2048) {
                q <<= 1;
                ++doublings;
            }
            table[(p << 4) + a7] = static_cast<std::uint16_t>(q | doublings << 12);
        }
    }
    return table;
}
constexpr std::array<std::uint16_t, q_index_end> normalized_q = make_normalized_q();

// The arithmetic decoder. `value` holds C above its `spare` lowest bits,
// which are the next code bits, so taking a bit into C only counts it.
struct Coder {
    std::uint32_t A = 4095;
    std::uint64_t value = 0;
    int spare = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t next = 0;  // the next byte to load; past `size` it reads as 0

    void refill() {
        std::uint32_t word = 0;
        if (size - std::min(size, next) >= 4) {
            word = load_be32(data + next);
        } else {
            for (std::size_t i = 0; i < 4; ++i) {
                word = word << 8 | (next + i < size ? data[next + i] : 0u);
            }
        }
        value = value << 32 | word;
        spare += 32;
        next += 4;
    }

    // r for probability p (1 .. 128). When `stuck` (C started at 4095, not
    // below A), C stays at or above A for the whole frame and every r is 0.
    // Both outcomes are prepared, already renormalised, and one is picked by
    // a mask, not a branch (r is close to random): q's from a table, while
    // h = A - q >= A / 2 - 128 >= 896 needs at most two doublings.
    template <bool kMayStick>
    std::uint32_t decode(std::uint32_t p, bool stuck) {
        const std::uint32_t q_norm = normalized_q[(p << 4) + (A >> 7)];
        const std::uint32_t w = (A >> 8) | ((A >> 7) & 1);
        const std::uint32_t h = A - w * p;
        const std::uint32_t h_doublings = ((h - 2048) >> 31) + ((h - 1024) >> 31);
        const std::uint32_t h_norm = h << h_doublings;
        const std::uint64_t scaled = static_cast<std::uint64_t>(h) << spare;
        const std::uint64_t rest = value - scaled;
        // All ones when C < h, that is r = 1 (both values are below 2^52).
        std::uint64_t one = static_cast<std::uint64_t>(static_cast<std::int64_t>(rest) >> 63);
        if constexpr (kMayStick) {
            one &= stuck ? 0 : ~std::uint64_t{0};
        }
        const auto one32 = static_cast<std::uint32_t>(one);
        value = rest + (scaled & one);
        const std::uint32_t q12 = q_norm & 0xFFF;
        A = q12 ^ ((q12 ^ h_norm) & one32);
        const std::uint32_t q_doublings = q_norm >> 12;
        spare -= static_cast<int>(q_doublings ^ ((q_doublings ^ h_doublings) & one32));
        if (spare < 8) {
            refill();
        }
        return one32 & 1;
    }
};

// What one channel uses over a run of bytes.
struct ChannelRun {
    const std::uint64_t* lut = nullptr;  // the filter's groups
    unsigned groups = 0;
    const std::int32_t* cur = nullptr;   // the filter's current-byte sums
    const std::uint8_t* prob = nullptr;  // by |prediction| >> 3, 0 .. 4096
    std::uint8_t* history = nullptr;
    std::uint32_t half_until = 0;  // bits with probability 128 (generic path)
};

// Decodes bytes b0 .. b1 - 1 of every channel. kN = 0: any channel count,
// half probability and a stuck coder handled (the start of a frame, and
// frames no encoder makes); else the fast path for kN channels. Works on
// local copies, which the byte stores cannot alias, so the coder's state
// stays in registers. Stops early once the coder has read further past the
// code's end than any valid frame does.
template <unsigned kN>
void decode_bytes(Coder& coder_state, const ChannelRun* channel_runs, unsigned channels, bool stuck,
                  std::size_t b0, std::size_t b1, std::uint8_t* sound) {
    constexpr bool generic = kN == 0;
    const unsigned n_channels = generic ? channels : kN;
    Coder coder = coder_state;
    std::array<ChannelRun, generic ? max_channels : kN> runs;
    std::copy_n(channel_runs, n_channels, runs.begin());
    const std::uint64_t read_limit = 8 * static_cast<std::uint64_t>(coder.size) + 176;
    for (std::size_t b = b0; b < b1; ++b) {
        if (8 * static_cast<std::uint64_t>(coder.next) - static_cast<std::uint64_t>(coder.spare) >
            read_limit) {
            break;
        }
        std::array<std::uint64_t, max_channels> word0{};
        std::array<std::uint64_t, max_channels> word1{};
        std::array<std::uint32_t, max_channels> acc{};
        for (unsigned c = 0; c < n_channels; ++c) {
            const ChannelRun& run = runs[c];
            const std::uint8_t* h = run.history + history_bytes + b - 1;  // h[-g]: group g
            const std::uint64_t* t = run.lut;
            std::uint64_t s0 = 0;
            std::uint64_t s1 = 0;
            for (unsigned g = 0; g < run.groups; ++g, t += 512) {
                const std::uint64_t* e = t + 2 * static_cast<std::size_t>(*(h - g));
                s0 += e[0];
                s1 += e[1];
            }
            word0[c] = s0;
            word1[c] = s1;
            acc[c] = 1;
        }
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
        for (unsigned i = 0; i < 8; ++i) {
            for (unsigned c = 0; c < n_channels; ++c) {
                const ChannelRun& run = runs[c];
                const std::uint64_t word = i < 4 ? word0[c] : word1[c];
                const auto lane = static_cast<std::uint32_t>(word >> lane_shift(i)) & 0xFFFF;
                const auto x =
                    static_cast<std::int16_t>(lane + static_cast<std::uint32_t>(run.cur[acc[c]]));
                const std::uint32_t negative = x < 0 ? 1 : 0;
                const auto magnitude = static_cast<std::uint32_t>(x < 0 ? -x : x);
                std::uint32_t p = run.prob[magnitude >> 3];
                if constexpr (generic) {
                    if (8 * b + i < run.half_until) {
                        p = 128;
                    }
                }
                const std::uint32_t r = coder.decode<generic>(p, stuck);
                acc[c] = acc[c] << 1 | (negative ^ r);
            }
        }
        for (unsigned c = 0; c < n_channels; ++c) {
            const auto byte = static_cast<std::uint8_t>(acc[c]);
            runs[c].history[history_bytes + b] = byte;
            sound[b * n_channels + c] = byte;
        }
    }
    coder_state = coder;
}

using DecodeBytes = void (*)(Coder&, const ChannelRun*, unsigned, bool, std::size_t, std::size_t,
                             std::uint8_t*);
constexpr std::array<DecodeBytes, max_channels + 1> decode_bytes_for = {
    decode_bytes<0>, decode_bytes<1>, decode_bytes<2>, decode_bytes<3>,
    decode_bytes<4>, decode_bytes<5>, decode_bytes<6>};

std::uint32_t reverse7(std::int32_t v) {
    std::uint32_t r = 0;
    for (unsigned i = 0; i < 7; ++i) {
        r |= ((static_cast<std::uint32_t>(v) >> i) & 1) << (6 - i);
    }
    return r;
}

}  // namespace

std::size_t frame_bytes_per_channel(std::uint32_t fs) {
    return fs != 0 && fs % (8 * 44100) == 0 ? fs / 600 : 0;
}

std::size_t max_frame_bytes(unsigned channels, std::size_t bytes_per_channel) {
    return 8 * channels * bytes_per_channel + 50000 * static_cast<std::size_t>(channels);
}

struct FrameDecoder::State {
    unsigned channels = 0;
    std::uint32_t L = 0;
    FrameHeader header;
    // Per filter: groups_max groups of 256 entries of two lane words.
    std::vector<std::uint64_t> lut;
    std::array<std::array<std::int32_t, 256>, max_numbers> cur{};
    std::array<unsigned, max_numbers> groups{};
    // Per table: the probability for every |prediction| >> 3.
    std::array<std::array<std::uint8_t, 4097>, max_numbers> prob{};
    // Per channel: history_bytes of start history, then the frame's bytes.
    std::vector<std::uint8_t> history;

    bool valid() const { return channels != 0; }
    std::uint8_t* channel_history(unsigned c) { return &history[c * (history_bytes + L)]; }

    void build_filter(unsigned f);
    void build_tables();
    FrameStatus decode_compressed(std::span<const std::uint8_t> frame,
                                  std::span<std::uint8_t> sound);
};

void FrameDecoder::State::build_filter(unsigned f) {
    std::array<std::int32_t, max_order + 8> coef{};
    std::copy(header.coef[f].begin(), header.coef[f].end(), coef.begin());
    const unsigned n_groups = (header.order[f] + 7) / 8;
    groups[f] = n_groups;
    std::uint64_t* lut_f = &lut[static_cast<std::size_t>(f) * groups_max * 512];
    for (unsigned g = 0; g < n_groups; ++g) {
        // Lane i of entry v: group_bias + sum over l of coef[8g + l + i] x
        // (2 bit_l(v) - 1), built from the entry without v's lowest bit.
        std::array<std::array<std::uint64_t, 2>, 8> step{};
        std::array<std::uint64_t, 2> zero{};
        for (unsigned i = 0; i < 8; ++i) {
            std::int32_t lane = group_bias;
            for (unsigned l = 0; l < 8; ++l) {
                const std::int32_t c = coef[8 * g + l + i];
                lane -= c;
                step[l][i / 4] |= static_cast<std::uint64_t>(2 * c + 4096) << lane_shift(i);
            }
            zero[i / 4] |= static_cast<std::uint64_t>(lane) << lane_shift(i);
        }
        std::uint64_t* e = lut_f + static_cast<std::size_t>(g) * 512;
        e[0] = zero[0];
        e[1] = zero[1];
        for (unsigned v = 1; v < 256; ++v) {
            const auto& s = step[static_cast<unsigned>(std::countr_zero(v))];
            const unsigned from = v & (v - 1);
            e[2 * v] = e[2 * from] + s[0] - 4096 * lane_ones;
            e[2 * v + 1] = e[2 * from + 1] + s[1] - 4096 * lane_ones;
        }
    }
    // The bits of the current byte, newest lowest, under a leading 1.
    auto& cur_f = cur[f];
    cur_f[1] = -static_cast<std::int32_t>(n_groups * group_bias);
    for (unsigned acc = 2; acc < 256; ++acc) {
        const unsigned i = static_cast<unsigned>(std::bit_width(acc)) - 1;
        const unsigned oldest = (acc >> (i - 1)) & 1;
        const unsigned from = (1u << (i - 1)) | (acc & ((1u << (i - 1)) - 1));
        cur_f[acc] = cur_f[from] + (oldest != 0 ? coef[i - 1] : -coef[i - 1]);
    }
}

void FrameDecoder::State::build_tables() {
    for (unsigned t = 0; t < header.tables; ++t) {
        const unsigned length = header.length[t];
        std::copy_n(header.entry[t].begin(), length, prob[t].begin());
        std::fill(prob[t].begin() + length, prob[t].end(), header.entry[t][length - 1]);
    }
}

FrameStatus FrameDecoder::State::decode_compressed(std::span<const std::uint8_t> frame,
                                                   std::span<std::uint8_t> sound) {
    if (frame.size() > max_frame_bytes(channels, L) ||
        !detail::read_frame_header(frame, channels, L, header)) {
        return FrameStatus::damaged;
    }
    const std::uint64_t start = header.coded_start;
    const std::uint64_t frame_bits = static_cast<std::uint64_t>(frame.size()) * 8;
    if (start < frame_bits &&
        ((frame[static_cast<std::size_t>(start >> 3)] >> (7 - (start & 7))) & 1) != 0) {
        return FrameStatus::damaged;
    }
    for (unsigned f = 0; f < header.filters; ++f) {
        build_filter(f);
    }
    build_tables();
    for (unsigned c = 0; c < channels; ++c) {
        std::fill_n(channel_history(c), history_bytes, start_history);
    }

    // The coder starts with C = code bits 1 to 12 (code bit 0 is at `start`).
    Coder coder;
    coder.data = frame.data();
    coder.size = frame.size();
    const std::uint64_t first = start + 1;
    coder.next = static_cast<std::size_t>(first >> 3);
    coder.value = coder.next < coder.size ? frame[coder.next] & (0xFFu >> (first & 7)) : 0;
    coder.spare = static_cast<int>(8 - (first & 7)) - 12;
    ++coder.next;
    while (coder.spare < 8) {
        coder.value = coder.value << 8 | (coder.next < coder.size ? frame[coder.next] : 0u);
        coder.spare += 8;
        ++coder.next;
    }
    const bool stuck = (coder.value >> coder.spare) == 4095;

    coder.decode<true>(reverse7(header.coef[0][0]) + 1, stuck);

    // Runs of bytes over which no channel changes filter or table.
    std::array<std::uint32_t, 2 * max_channels*(detail::segment_room + 1) + 2> cuts{};
    std::size_t n_cuts = 0;
    bool half = false;
    std::array<ChannelRun, max_channels> runs{};
    for (unsigned c = 0; c < channels; ++c) {
        const auto& fs = header.filter_segments;
        const auto& ts = header.table_segments;
        for (unsigned s = 0; s < fs.count[c]; ++s) {
            cuts[n_cuts++] = fs.start[c][s];
        }
        for (unsigned s = 0; s < ts.count[c]; ++s) {
            cuts[n_cuts++] = ts.start[c][s];
        }
        runs[c].history = channel_history(c);
        if (header.half_probability[c]) {
            half = true;
            runs[c].half_until = header.order[fs.number[c][0]];
        }
    }
    // The generic path covers the bits with probability 128 (all within
    // the first 128) or, for a stuck coder, the whole frame.
    const std::uint32_t generic_until = stuck ? L : half ? history_bytes : 0;
    cuts[n_cuts++] = generic_until;
    cuts[n_cuts++] = L;
    std::sort(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(n_cuts));
    const auto cuts_end =
        std::unique(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(n_cuts));

    std::array<unsigned, max_channels> filter_seg{};
    std::array<unsigned, max_channels> table_seg{};
    for (auto cut = cuts.begin(); cut + 1 < cuts_end; ++cut) {
        const std::uint32_t b0 = cut[0];
        const std::uint32_t b1 = cut[1];
        for (unsigned c = 0; c < channels; ++c) {
            const auto& fs = header.filter_segments;
            const auto& ts = header.table_segments;
            while (fs.start[c][filter_seg[c] + 1] <= b0) {
                ++filter_seg[c];
            }
            while (ts.start[c][table_seg[c] + 1] <= b0) {
                ++table_seg[c];
            }
            const unsigned f = fs.number[c][filter_seg[c]];
            const unsigned t = ts.number[c][table_seg[c]];
            runs[c].lut = &lut[static_cast<std::size_t>(f) * groups_max * 512];
            runs[c].groups = groups[f];
            runs[c].cur = cur[f].data();
            runs[c].prob = prob[t].data();
        }
        decode_bytes_for[b0 < generic_until ? 0 : channels](coder, runs.data(), channels, stuck, b0,
                                                            b1, sound.data());
    }

    // pos, the index of the next code bit, against the D code bits.
    const auto pos = static_cast<std::int64_t>(8 * static_cast<std::uint64_t>(coder.next)) -
                     coder.spare - static_cast<std::int64_t>(start);
    const auto D = static_cast<std::int64_t>(frame_bits - start);
    return pos >= D - 7 && pos <= D + 176 ? FrameStatus::ok : FrameStatus::damaged;
}

FrameDecoder::FrameDecoder(unsigned channels, std::size_t bytes_per_channel)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    if (channels < 1 || channels > max_channels || bytes_per_channel == 0 ||
        bytes_per_channel % 588 != 0 || bytes_per_channel > (std::size_t{1} << 24)) {
        return;
    }
    s.channels = channels;
    s.L = static_cast<std::uint32_t>(bytes_per_channel);
    s.lut.resize(static_cast<std::size_t>(2 * channels) * groups_max * 512);
    s.history.resize(channels * (history_bytes + bytes_per_channel));
}

FrameDecoder::~FrameDecoder() = default;

FrameStatus FrameDecoder::decode(std::span<const std::uint8_t> frame,
                                 std::span<std::uint8_t> sound) {
    State& s = *state_;
    const std::size_t sound_bytes = static_cast<std::size_t>(s.channels) * s.L;
    if (!s.valid() || sound.size() != sound_bytes || frame.empty()) {
        return FrameStatus::damaged;
    }
    if ((frame[0] & 0x80) != 0) {
        return s.decode_compressed(frame, sound);
    }
    // Stored: the second bit is free, the next six are 0.
    if ((frame[0] & 0x3F) != 0 || frame.size() - 1 < sound_bytes) {
        return FrameStatus::damaged;
    }
    std::copy_n(frame.begin() + 1, sound_bytes, sound.begin());
    return FrameStatus::ok;
}

}  // namespace dsd::dst
