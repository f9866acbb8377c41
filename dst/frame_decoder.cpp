// Decoding frames.
//
// The prediction of a bit is split at the start of its byte: the history
// bits of the earlier bytes give, once per byte, the partial sums of all 8
// bit positions of the byte together (8 lanes of 16 bits in two 64-bit
// words: one table lookup and two additions per history byte the filter's
// order reaches); the bits already decoded in the current byte add one
// lookup per bit. So a filter of order k costs ceil(k / 8) / 8 lookups per
// bit.
//
// The arithmetic decoder is one long dependency chain through every bit of
// a frame, so one frame keeps a core's execution units mostly idle: frames
// decoded in the same loop, two or three, run almost as fast as one.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "dst.hpp"
#include "frame_header.hpp"

#if defined(__GNUC__)
#define DSD_DST_INLINE [[gnu::always_inline]] inline
#else
#define DSD_DST_INLINE inline
#endif

namespace dsd::dst {

using detail::FrameHeader;
using detail::max_numbers;
using detail::max_order;

namespace {

constexpr std::size_t history_bytes = max_order / 8;
constexpr std::size_t groups_max = history_bytes;
constexpr std::uint8_t start_history = 0xAA;  // h[j] = 1 for odd j
constexpr std::size_t magnitudes = 4097;      // |prediction| >> 3

// The partial predictions of the 8 bits of a byte, in 16-bit lanes: the
// word lanes[i / 4] holds bit i's at lane_shift(i). Every group's lanes are
// biased by group_bias to stay non-negative, so that the lanes of a word
// add without borrows; their sums stay below 2^16 except for bit 0 of the
// filter whose 128 coefficients are all -256, and that lane sits at the top
// of its word, where its carry falls off.
struct alignas(16) Lanes : std::array<std::uint64_t, 2> {};
constexpr std::uint32_t group_bias = 2048;
constexpr std::uint64_t lane_ones = 0x0001000100010001;

constexpr unsigned lane_shift(unsigned i) {
    return 16 * ((i + 3) % 4);
}

std::uint32_t load_be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// The arithmetic decoder keeps A (always 2048 .. 4095 between bits) and
// `spare` (0 .. 52, see Coder) in one word, A << 8 | spare, so that the
// outcome of a bit is one value picked from two. Renormalising takes A
// back into 2048 .. 4095 by d doublings and d code bits, so each outcome is
// stored as its renormalised A << 8, less d: added to the spare bits alone,
// it gives the next word.
constexpr std::uint32_t outcome(std::uint32_t a) {
    std::uint32_t doublings = 0;
    while (a < 2048) {
        a <<= 1;
        ++doublings;
    }
    return (a << 8) - doublings;
}

// A & 0x780 holds (A >> 7) - 16 shifted by 7, and with p - 1 below it
// indexes every (A >> 7, p): there, q = w x p and its outcome.
struct QTables {
    std::array<std::uint16_t, 2048> q{};
    std::array<std::uint32_t, 2048> outcome{};
};
constexpr QTables make_q_tables() {
    QTables t;
    for (std::uint32_t a7 = 16; a7 < 32; ++a7) {
        for (std::uint32_t p = 1; p <= 128; ++p) {
            const std::size_t i = (a7 - 16) << 7 | (p - 1);
            const std::uint32_t q = ((a7 >> 1) | (a7 & 1)) * p;
            t.q[i] = static_cast<std::uint16_t>(q);
            t.outcome[i] = outcome(q);
        }
    }
    return t;
}
constexpr QTables q_tables = make_q_tables();

// The outcome of h = A - q, by h (h >= A / 2 - 128 >= 896).
constexpr std::array<std::uint32_t, 4096> make_h_outcomes() {
    std::array<std::uint32_t, 4096> t{};
    for (std::uint32_t h = 1; h < 4096; ++h) {
        t[h] = outcome(h);
    }
    return t;
}
constexpr std::array<std::uint32_t, 4096> h_outcomes = make_h_outcomes();

// The arithmetic decoder. `value` holds C above its `spare` lowest bits,
// which are the next code bits, so taking a bit into C only counts it.
struct Coder {
    std::uint32_t state = 4095 << 8;  // A << 8 | spare
    std::uint64_t value = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t next = 0;  // the next byte to load; past `size` it reads as 0

    std::uint32_t spare() const { return state & 0xFF; }

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
        state += 32;
        next += 4;
    }

    // Code bits read, as 8 x next - spare: the position of the next one
    // counted from the byte that holds the code's first bit.
    std::uint64_t read() const { return 8 * static_cast<std::uint64_t>(next) - spare(); }

    // Decodes r for probability pm + 1 (pm 0 .. 127) and returns `bits`
    // with r shifted in at the bottom. When `stuck` (C started at 4095, not
    // below A), C stays at or above A for the whole frame and every r is 0.
    // Both outcomes are computed and one picked by a conditional move, not
    // a branch: r is close to random, and the path from one bit's state to
    // the next stays short.
    template <bool kMayStick>
    DSD_DST_INLINE std::uint32_t decode(std::uint32_t pm, bool stuck, std::uint32_t bits) {
        const std::uint32_t A = state >> 8;
        const std::uint32_t i = (A & 0x780) | pm;
        const std::uint32_t h = A - q_tables.q[i];
        const std::uint64_t scaled = static_cast<std::uint64_t>(h) << (state & 63);
        const std::uint32_t spare = state & 0xFF;
        const std::uint32_t if_zero = q_tables.outcome[i];
        const std::uint32_t if_one = h_outcomes[h];
        // r = 1 when C < h (both below 2^52).
#if defined(__x86_64__) && defined(__GCC_ASM_FLAG_OUTPUTS__)
        if constexpr (!kMayStick) {
            // Compilers turn these selections into a branch, which fails
            // half the time.
            std::uint64_t rest = value;
            std::uint32_t picked = if_zero;
            asm("sub %[scaled], %[rest]\n\t"
                "cmovb %[value], %[rest]\n\t"
                "cmovb %[if_one], %[picked]\n\t"
                "adc %[bits], %[bits]"
                : [rest] "+&r"(rest), [picked] "+&r"(picked), [bits] "+&r"(bits)
                : [scaled] "r"(scaled), [value] "r"(value), [if_one] "r"(if_one)
                : "cc");
            value = rest;
            state = picked + spare;
        } else
#endif
        {
            const bool one = value < scaled && !(kMayStick && stuck);
            bits = bits << 1 | (one ? 1 : 0);
            const std::uint64_t mask = 0 - static_cast<std::uint64_t>(one);
            value = (value - scaled) + (scaled & mask);
            state = (if_zero ^ ((if_zero ^ if_one) & static_cast<std::uint32_t>(mask))) + spare;
        }
        if (static_cast<std::uint8_t>(state) < 8) {  // spare < 8
            refill();
        }
        return bits;
    }
};

// Two lanes words added as one vector where the compiler has them.
#if defined(__GNUC__)
using Words = std::uint64_t __attribute__((vector_size(16), may_alias));
DSD_DST_INLINE const Words& words(const Lanes& lanes) {
    return *reinterpret_cast<const Words*>(&lanes);
}
#else
using Words = Lanes;
inline const Words& words(const Lanes& lanes) {
    return lanes;
}
inline Words& operator+=(Words& sum, const Words& lanes) {
    sum[0] += lanes[0];
    sum[1] += lanes[1];
    return sum;
}
#endif

// What one channel uses over a run of bytes.
struct ChannelRun {
    const Lanes* lut = nullptr;  // the filter's groups
    unsigned groups = 0;
    const std::uint16_t* cur = nullptr;  // the filter's current-byte sums
    const std::uint8_t* prob = nullptr;  // p - 1 by |prediction| >> 3
    std::uint8_t* history = nullptr;
    std::uint32_t half_until = 0;  // bits with probability 128 (generic path)
};

// The scratch of one frame: its header and the tables built from it.
struct FrameTables {
    FrameHeader header;
    // Per filter: groups_max groups of 256 entries.
    std::vector<Lanes> lut;
    std::array<std::array<std::uint16_t, 256>, max_numbers> cur{};
    std::array<unsigned, max_numbers> groups{};
    // Per table: p - 1 for every |prediction| >> 3.
    std::array<std::array<std::uint8_t, magnitudes>, max_numbers> prob{};
    // Per channel: history_bytes of start history, then the frame's bytes.
    std::vector<std::uint8_t> history;

    void build_filter(unsigned f);
    void build_table(unsigned t);
};

void FrameTables::build_filter(unsigned f) {
    std::array<std::int32_t, max_order + 8> coef{};
    std::copy(header.coef[f].begin(), header.coef[f].end(), coef.begin());
    const unsigned n_groups = (header.order[f] + 7) / 8;
    groups[f] = n_groups;
    Lanes* lut_f = &lut[static_cast<std::size_t>(f) * groups_max * 256];
    for (unsigned g = 0; g < n_groups; ++g) {
        // Lane i of entry v: group_bias + the sum over l of coef[8g + l + i]
        // x (2 bit_l(v) - 1), built from the entry without v's lowest bit
        // by adding 2 x coef + 4096 and taking 4096 away (no lane below 0).
        std::array<Lanes, 8> step{};
        Lanes* e = lut_f + static_cast<std::size_t>(g) * 256;
        e[0] = {};
        for (unsigned i = 0; i < 8; ++i) {
            std::int32_t lane = group_bias;
            for (unsigned l = 0; l < 8; ++l) {
                const std::int32_t c = coef[8 * g + l + i];
                lane -= c;
                step[l][i / 4] |= static_cast<std::uint64_t>(2 * c + 4096) << lane_shift(i);
            }
            e[0][i / 4] |= static_cast<std::uint64_t>(lane) << lane_shift(i);
        }
        for (unsigned v = 1; v < 256; ++v) {
            const Lanes& s = step[static_cast<unsigned>(std::countr_zero(v))];
            const Lanes& from = e[v & (v - 1)];
            e[v] = {{from[0] + s[0] - 4096 * lane_ones, from[1] + s[1] - 4096 * lane_ones}};
        }
    }
    // The bits of the current byte, newest lowest, under a leading 1.
    auto& cur_f = cur[f];
    cur_f[1] = static_cast<std::uint16_t>(0 - n_groups * group_bias);
    for (unsigned acc = 2; acc < 256; ++acc) {
        const unsigned i = static_cast<unsigned>(std::bit_width(acc)) - 1;
        const unsigned oldest = (acc >> (i - 1)) & 1;
        const unsigned from = (1u << (i - 1)) | (acc & ((1u << (i - 1)) - 1));
        cur_f[acc] =
            static_cast<std::uint16_t>(cur_f[from] + (oldest != 0 ? coef[i - 1] : -coef[i - 1]));
    }
}

void FrameTables::build_table(unsigned t) {
    const unsigned length = header.length[t];
    for (unsigned k = 0; k < magnitudes; ++k) {
        prob[t][k] = static_cast<std::uint8_t>(header.entry[t][std::min(k, length - 1)] - 1);
    }
}

std::uint32_t reverse7(std::int32_t v) {
    std::uint32_t r = 0;
    for (unsigned i = 0; i < 7; ++i) {
        r |= ((static_cast<std::uint32_t>(v) >> i) & 1) << (6 - i);
    }
    return r;
}

// One compressed frame on its way through the decoder.
class Decoding {
  public:
    Decoding(FrameTables& tables, unsigned channels, std::uint32_t L)
        : t_(tables), channels_(channels), L_(L) {}

    unsigned channels() const { return channels_; }
    Coder& coder() { return coder_; }
    bool stuck() const { return stuck_; }
    std::uint8_t* sound() const { return sound_; }
    const std::array<ChannelRun, max_channels>& runs() const { return runs_; }
    std::uint32_t generic_until() const { return generic_until_; }
    std::uint32_t done() const { return done_; }

    // Reads the header, builds the tables, starts the coder and decodes
    // the leading bit; false when the frame is damaged already.
    bool start(std::span<const std::uint8_t> frame, std::uint8_t* sound);
    // Points the runs at the filters and tables of byte b (at or after the
    // previous b) and gives the end of the bytes that keep them and the
    // same path (generic or not).
    std::uint32_t enter(std::uint32_t b);
    // Decodes alone up to byte `to`.
    void run(std::uint32_t to);
    void advance(std::uint32_t b, bool over_limit) { done_ = over_limit ? L_ : b; }
    // Stops early once the coder has read further past the code's end than
    // a valid frame can.
    std::uint64_t read_limit() const { return 8 * static_cast<std::uint64_t>(coder_.size) + 176; }
    FrameStatus finish() const;

  private:
    FrameTables& t_;
    unsigned channels_;
    std::uint32_t L_;
    Coder coder_;
    bool stuck_ = false;
    std::uint8_t* sound_ = nullptr;
    std::uint64_t start_ = 0;  // the first coded bit
    std::array<ChannelRun, max_channels> runs_{};
    std::array<unsigned, max_channels> filter_segment_{};
    std::array<unsigned, max_channels> table_segment_{};
    std::uint32_t generic_until_ = 0;
    std::uint32_t done_ = 0;
};

bool Decoding::start(std::span<const std::uint8_t> frame, std::uint8_t* sound) {
    FrameHeader& header = t_.header;
    if (frame.size() > max_frame_bytes(channels_, L_) ||
        !detail::read_frame_header(frame, channels_, L_, header)) {
        return false;
    }
    start_ = header.coded_start;
    const std::uint64_t frame_bits = static_cast<std::uint64_t>(frame.size()) * 8;
    if (start_ < frame_bits &&
        ((frame[static_cast<std::size_t>(start_ >> 3)] >> (7 - (start_ & 7))) & 1) != 0) {
        return false;
    }
    for (unsigned f = 0; f < header.filters; ++f) {
        t_.build_filter(f);
    }
    for (unsigned t = 0; t < header.tables; ++t) {
        t_.build_table(t);
    }
    sound_ = sound;

    // C = code bits 1 to 12 (code bit 0 is at start_).
    coder_.data = frame.data();
    coder_.size = frame.size();
    const std::uint64_t first = start_ + 1;
    coder_.next = static_cast<std::size_t>(first >> 3);
    coder_.value = coder_.next < coder_.size ? frame[coder_.next] & (0xFFu >> (first & 7)) : 0;
    // Bits loaded beyond C's 12: negative until enough bytes are in.
    int spare = static_cast<int>(8 - (first & 7)) - 12;
    ++coder_.next;
    while (spare < 8) {
        coder_.value = coder_.value << 8 | (coder_.next < coder_.size ? frame[coder_.next] : 0u);
        spare += 8;
        ++coder_.next;
    }
    coder_.state += static_cast<std::uint32_t>(spare);
    stuck_ = (coder_.value >> spare) == 4095;
    coder_.decode<true>(reverse7(header.coef[0][0]), stuck_, 0);

    bool half = false;
    for (unsigned c = 0; c < channels_; ++c) {
        std::uint8_t* history = &t_.history[c * (history_bytes + L_)];
        std::fill_n(history, history_bytes, start_history);
        runs_[c].history = history;
        if (header.half_probability[c]) {
            half = true;
            runs_[c].half_until = header.order[header.filter_segments.number[c][0]];
        }
    }
    // The generic path covers the bits with probability 128 (all within
    // the first 128) or, for a stuck coder, the whole frame.
    generic_until_ = stuck_ ? L_ : half ? history_bytes : 0;
    return true;
}

std::uint32_t Decoding::enter(std::uint32_t b) {
    const auto& fs = t_.header.filter_segments;
    const auto& ts = t_.header.table_segments;
    std::uint32_t end = b < generic_until_ ? generic_until_ : L_;
    for (unsigned c = 0; c < channels_; ++c) {
        unsigned& f_seg = filter_segment_[c];
        unsigned& t_seg = table_segment_[c];
        while (fs.start[c][f_seg + 1] <= b) {
            ++f_seg;
        }
        while (ts.start[c][t_seg + 1] <= b) {
            ++t_seg;
        }
        end = std::min({end, fs.start[c][f_seg + 1], ts.start[c][t_seg + 1]});
        const unsigned f = fs.number[c][f_seg];
        const unsigned t = ts.number[c][t_seg];
        runs_[c].lut = &t_.lut[static_cast<std::size_t>(f) * groups_max * 256];
        runs_[c].groups = t_.groups[f];
        runs_[c].cur = t_.cur[f].data();
        runs_[c].prob = t_.prob[t].data();
    }
    return end;
}

FrameStatus Decoding::finish() const {
    // pos, the index of the next code bit, against the D code bits.
    const auto pos = static_cast<std::int64_t>(coder_.read()) - static_cast<std::int64_t>(start_);
    const auto D = static_cast<std::int64_t>(8 * static_cast<std::uint64_t>(coder_.size) - start_);
    return pos >= D - 7 && pos <= D + 176 ? FrameStatus::ok : FrameStatus::damaged;
}

// One frame's decoding over a run of bytes, in locals (which the stores of
// decoded bytes cannot alias, so the coder stays in registers). kN = 0:
// any channel count, half probability and a stuck coder (the start of a
// frame, and frames no encoder makes); else the fast path for kN channels.
template <unsigned kN>
class ByteKernel {
  public:
    static constexpr bool generic = kN == 0;

    explicit ByteKernel(Decoding& d)
        : coder_(d.coder()),
          channels_(generic ? d.channels() : kN),
          stuck_(d.stuck()),
          sound_(d.sound()),
          read_limit_(d.read_limit()) {
        std::copy_n(d.runs().begin(), channels_, runs_.begin());
    }

    unsigned channels() const { return generic ? channels_ : kN; }
    const Coder& coder() const { return coder_; }
    bool over_limit() const { return coder_.read() > read_limit_; }

    DSD_DST_INLINE void begin(std::size_t b) {
        for (unsigned c = 0; c < channels(); ++c) {
            const ChannelRun& run = runs_[c];
            const std::uint8_t* h = run.history + history_bytes + b - 1;  // h[-g]: group g
            const Lanes* t = run.lut;
            // The newest byte's group last: the others need not wait for it.
            // Filters of the greatest order, the usual ones, take a loop
            // without a count.
            Words sum{};
            if (run.groups == groups_max) {
#if defined(__GNUC__)
#pragma GCC unroll 16
#endif
                for (unsigned g = 1; g < groups_max; ++g) {
                    sum += words(t[256 * g + h[-static_cast<std::ptrdiff_t>(g)]]);
                }
            } else {
                for (unsigned g = 1; g < run.groups; ++g) {
                    sum += words(t[256 * g + h[-static_cast<std::ptrdiff_t>(g)]]);
                }
            }
            sum += words(t[*h]);
            std::memcpy(lanes_[c].data(), &sum, sizeof sum);
            acc_[c] = 1;
        }
    }

    DSD_DST_INLINE void bit(std::size_t b, unsigned i, unsigned c) {
        const ChannelRun& run = runs_[c];
        const std::uint32_t lane = lanes_[c][lane_index(i)];
        const std::int32_t x = static_cast<std::int16_t>(lane + run.cur[acc_[c]]);
        // |x| >> 3 without a branch: for x < 0, ~((x - 1) >> 3) = -x >> 3.
        const std::int32_t sign = x >> 31;
        const auto negative = static_cast<std::uint32_t>(sign) & 1;
        std::uint32_t pm = run.prob[static_cast<std::uint32_t>(((x + sign) >> 3) ^ sign)];
        if constexpr (generic) {
            if (8 * b + i < run.half_until) {
                pm = 127;
            }
        }
        acc_[c] = coder_.decode<generic>(pm, stuck_, acc_[c]) ^ negative;
    }

    DSD_DST_INLINE void end(std::size_t b) {
        for (unsigned c = 0; c < channels(); ++c) {
            const auto byte = static_cast<std::uint8_t>(acc_[c]);
            runs_[c].history[history_bytes + b] = byte;
            sound_[b * channels() + c] = byte;
        }
    }

  private:
    static constexpr std::size_t room = generic ? max_channels : kN;
    Coder coder_;
    unsigned channels_;
    bool stuck_;
    std::uint8_t* sound_;
    std::uint64_t read_limit_;
    std::array<ChannelRun, room> runs_;
    // The lanes as stored in memory, one 16-bit load per bit.
    static constexpr unsigned lane_index(unsigned i) {
        const unsigned j = lane_shift(i) / 16;
        return 4 * (i / 4) + (std::endian::native == std::endian::little ? j : 3 - j);
    }
    alignas(16) std::array<std::array<std::uint16_t, 8>, room> lanes_;
    std::array<std::uint32_t, room> acc_;
};

// Decodes bytes b0 .. b1 - 1 of one frame.
template <unsigned kN>
void decode_run(Decoding& d, std::uint32_t b0, std::uint32_t b1) {
    ByteKernel<kN> k(d);
    std::uint32_t b = b0;
    for (; b < b1 && !k.over_limit(); ++b) {
        k.begin(b);
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
        for (unsigned i = 0; i < 8; ++i) {
            if constexpr (kN == 0) {
                for (unsigned c = 0; c < k.channels(); ++c) {
                    k.bit(b, i, c);
                }
            } else {
#if defined(__GNUC__)
#pragma GCC unroll 6
#endif
                for (unsigned c = 0; c < kN; ++c) {
                    k.bit(b, i, c);
                }
            }
        }
        k.end(b);
    }
    d.coder() = k.coder();
    d.advance(b, b < b1);
}

// Decodes bytes b0 .. b1 - 1 of kF frames together (fast path only);
// false when it stopped early, one of them having read too far.
template <unsigned kN, std::size_t kF, std::size_t... kI>
bool decode_run_together(const std::array<Decoding*, kF>& ds, std::uint32_t b0, std::uint32_t b1,
                         std::index_sequence<kI...> /*frames*/) {
    std::array<ByteKernel<kN>, kF> ks{ByteKernel<kN>(*ds[kI])...};
    const auto over_limit = [&] { return (ks[kI].over_limit() || ...); };
    std::uint32_t b = b0;
    for (; b < b1 && !over_limit(); ++b) {
        (ks[kI].begin(b), ...);
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
        for (unsigned i = 0; i < 8; ++i) {
#if defined(__GNUC__)
#pragma GCC unroll 6
#endif
            for (unsigned c = 0; c < kN; ++c) {
                (ks[kI].bit(b, i, c), ...);
            }
        }
        (ks[kI].end(b), ...);
    }
    ((ds[kI]->coder() = ks[kI].coder()), ...);
    (ds[kI]->advance(b, false), ...);
    return b == b1;
}

template <unsigned kN, std::size_t kF>
bool decode_run_together(const std::array<Decoding*, kF>& ds, std::uint32_t b0, std::uint32_t b1) {
    return decode_run_together<kN>(ds, b0, b1, std::make_index_sequence<kF>());
}

using DecodeRun = void (*)(Decoding&, std::uint32_t, std::uint32_t);
constexpr std::array<DecodeRun, max_channels + 1> decode_run_for = {
    decode_run<0>, decode_run<1>, decode_run<2>, decode_run<3>,
    decode_run<4>, decode_run<5>, decode_run<6>};

template <std::size_t kF>
using DecodeRunTogether = bool (*)(const std::array<Decoding*, kF>&, std::uint32_t, std::uint32_t);

template <std::size_t kF>
constexpr std::array<DecodeRunTogether<kF>, max_channels + 1> decode_run_together_for = {
    nullptr,
    decode_run_together<1, kF>,
    decode_run_together<2, kF>,
    decode_run_together<3, kF>,
    decode_run_together<4, kF>,
    decode_run_together<5, kF>,
    decode_run_together<6, kF>};

void Decoding::run(std::uint32_t to) {
    while (done_ < to) {
        const std::uint32_t b = done_;
        const std::uint32_t end = std::min(enter(b), to);
        decode_run_for[b < generic_until_ ? 0 : channels_](*this, b, end);
    }
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
    std::array<FrameTables, FrameDecoder::max_together> tables;

    bool valid() const { return channels != 0; }
    std::size_t sound_bytes() const { return static_cast<std::size_t>(channels) * L; }

    // Decodes a frame that is stored, damaged before its coded data, or
    // empty; false (nothing done) when it is a compressed frame to decode.
    bool decode_at_once(std::span<const std::uint8_t> frame, std::span<std::uint8_t> sound,
                        FrameStatus& status) const;
};

bool FrameDecoder::State::decode_at_once(std::span<const std::uint8_t> frame,
                                         std::span<std::uint8_t> sound, FrameStatus& status) const {
    status = FrameStatus::damaged;
    if (!valid() || sound.size() != sound_bytes() || frame.empty()) {
        return true;
    }
    if ((frame[0] & 0x80) != 0) {
        return false;
    }
    // Stored: the second bit is free, the next six are 0.
    if ((frame[0] & 0x3F) == 0 && frame.size() - 1 >= sound_bytes()) {
        std::copy_n(frame.begin() + 1, sound_bytes(), sound.begin());
        status = FrameStatus::ok;
    }
    return true;
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
    for (FrameTables& t : s.tables) {
        t.lut.resize(static_cast<std::size_t>(2 * channels) * groups_max * 256);
        t.history.resize(channels * (history_bytes + bytes_per_channel));
    }
}

FrameDecoder::~FrameDecoder() = default;

FrameStatus FrameDecoder::decode(std::span<const std::uint8_t> frame,
                                 std::span<std::uint8_t> sound) {
    State& s = *state_;
    FrameStatus status = FrameStatus::damaged;
    if (s.decode_at_once(frame, sound, status)) {
        return status;
    }
    Decoding d(s.tables[0], s.channels, s.L);
    if (!d.start(frame, sound.data())) {
        return FrameStatus::damaged;
    }
    d.run(s.L);
    return d.finish();
}

namespace {

// Decodes kF frames together, each alone through its generic start.
template <std::size_t kF>
void decode_together(std::array<Decoding*, kF>& ds, std::uint32_t L, unsigned channels) {
    std::uint32_t together = 0;
    for (Decoding* d : ds) {
        together = std::max(together, d->generic_until());
    }
    for (Decoding* d : ds) {
        d->run(together);
    }
    for (bool together_on = true; together_on && ds[0]->done() < L;) {
        const std::uint32_t b = ds[0]->done();
        std::uint32_t end = L;
        for (Decoding* d : ds) {
            end = std::min(end, d->enter(b));
        }
        together_on = decode_run_together_for<kF>[channels](ds, b, end);
    }
}

// The first `count` of the decodings together, count from 2 to kF.
template <std::size_t kF, std::size_t kRoom>
void decode_first_together(std::array<Decoding, kRoom>& decodings, std::size_t count,
                           std::uint32_t L, unsigned channels) {
    if constexpr (kF >= 2) {
        if (count == kF) {
            std::array<Decoding*, kF> ds{};
            for (std::size_t k = 0; k < kF; ++k) {
                ds[k] = &decodings[k];
            }
            decode_together(ds, L, channels);
        } else {
            decode_first_together<kF - 1>(decodings, count, L, channels);
        }
    }
}

template <std::size_t... kI>
std::array<Decoding, sizeof...(kI)> make_decodings(std::array<FrameTables, sizeof...(kI)>& tables,
                                                   unsigned channels, std::uint32_t L,
                                                   std::index_sequence<kI...> /*tables*/) {
    return {Decoding(tables[kI], channels, L)...};
}

}  // namespace

void FrameDecoder::decode(std::span<Job> jobs) {
    State& s = *state_;
    while (!jobs.empty()) {
        // Stored and damaged frames need no decoding; the rest go together.
        auto decodings =
            make_decodings(s.tables, s.channels, s.L, std::make_index_sequence<max_together>());
        std::array<Job*, max_together> started{};
        std::size_t count = 0;
        std::size_t taken = 0;
        for (; taken < jobs.size() && count < max_together; ++taken) {
            Job& job = jobs[taken];
            if (s.decode_at_once(job.frame, job.sound, job.status)) {
                continue;
            }
            if (decodings[count].start(job.frame, job.sound.data())) {
                started[count++] = &job;
            } else {
                job.status = FrameStatus::damaged;
            }
        }
        decode_first_together<max_together>(decodings, count, s.L, s.channels);
        for (std::size_t k = 0; k < count; ++k) {
            decodings[k].run(s.L);
            started[k]->status = decodings[k].finish();
        }
        jobs = jobs.subspan(taken);
    }
}

}  // namespace dsd::dst
