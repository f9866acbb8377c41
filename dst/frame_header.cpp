#include "frame_header.hpp"

#include <bit>

namespace dsd::dst::detail {
namespace {

// Reads the header's fields. Reading past the frame's end marks the frame
// damaged and gives zeros, so every loop over fields still ends.
class BitReader {
  public:
    explicit BitReader(std::span<const std::uint8_t> bytes)
        : bytes_(bytes), size_(static_cast<std::uint64_t>(bytes.size()) * 8) {}

    bool overrun() const { return overrun_; }
    std::uint64_t position() const { return pos_; }

    std::uint32_t bit() {
        if (pos_ >= size_) {
            overrun_ = true;
            return 0;
        }
        const std::uint32_t b =
            (bytes_[static_cast<std::size_t>(pos_ >> 3)] >> (7 - (pos_ & 7))) & 1;
        ++pos_;
        return b;
    }

    // n <= 32 bits, most significant first.
    std::uint32_t read(unsigned n) {
        std::uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i) {
            v = v << 1 | bit();
        }
        return v;
    }

    std::int32_t read_signed9() {
        const auto v = static_cast<std::int32_t>(read(9));
        return v >= 256 ? v - 512 : v;
    }

    // A signed Rice number. Its magnitude is capped far above any value a
    // valid frame holds, so no run can overflow it.
    std::int64_t read_rice(unsigned m) {
        std::uint64_t run = 0;
        while (bit() == 0) {
            if (overrun_) {
                return 0;
            }
            ++run;
        }
        const std::uint64_t magnitude = run << m | read(m);
        if (magnitude == 0) {
            return 0;
        }
        const auto value = static_cast<std::int64_t>(magnitude);
        return bit() != 0 ? -value : value;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t size_;
    std::uint64_t pos_ = 0;
    bool overrun_ = false;
};

unsigned bits(std::uint32_t x) {
    return static_cast<unsigned>(std::bit_width(x));
}

// floor((x + 4) / 8) for either sign.
std::int64_t prediction_term(std::int64_t x) {
    return x >= 0 ? (x + 4) / 8 : -((-x + 3) / 8);
}

class HeaderReader {
  public:
    HeaderReader(std::span<const std::uint8_t> frame, unsigned channels, std::uint32_t L)
        : in_(frame), channels_(channels), L_(L) {}

    bool read(FrameHeader& h) {
        in_.bit();  // coded
        const bool tables_same_segmentation = in_.bit() != 0;
        if (!read_segmentation(h.filter_segments, max_filter_segments, 1024)) {
            return false;
        }
        if (tables_same_segmentation) {
            h.table_segments = h.filter_segments;
        } else if (!read_segmentation(h.table_segments, max_table_segments, 32)) {
            return false;
        }

        const bool tables_same_mapping = in_.bit() != 0;
        if (!read_mapping(h.filter_segments, h.filters)) {
            return false;
        }
        if (tables_same_mapping) {
            for (unsigned c = 0; c < channels_; ++c) {
                if (h.table_segments.count[c] != h.filter_segments.count[c]) {
                    return false;
                }
                h.table_segments.number[c] = h.filter_segments.number[c];
            }
            h.tables = h.filters;
        } else if (!read_mapping(h.table_segments, h.tables)) {
            return false;
        }
        for (unsigned c = 0; c < channels_; ++c) {
            h.half_probability[c] = in_.bit() != 0;
        }

        for (unsigned f = 0; f < h.filters; ++f) {
            if (!read_filter(h, f)) {
                return false;
            }
        }
        for (unsigned t = 0; t < h.tables; ++t) {
            if (!read_table(h, t)) {
                return false;
            }
        }
        h.coded_start = in_.position();
        return !in_.overrun();
    }

  private:
    bool read_segmentation(Segments& s, unsigned max_segments, std::uint32_t min_bits) {
        const std::uint32_t min_bytes = min_bits / 8;
        const std::uint32_t room_at_start = L_ - min_bytes;
        std::uint32_t resolution = 0;  // not read yet
        std::uint32_t defined = 0;     // bytes, in the current channel
        std::uint32_t room = 0;
        unsigned count = 0;  // explicit segments, in the current channel
        const auto start_channel = [&] {
            defined = 0;
            room = room_at_start;
            count = 0;
        };
        // One explicit segment into channel c; false when damaged.
        const auto explicit_segment = [&](unsigned c) {
            if (resolution == 0) {
                resolution = in_.read(bits(room_at_start));
                if (resolution < 1 || resolution > room_at_start) {
                    return false;
                }
            }
            const std::uint64_t bytes =
                static_cast<std::uint64_t>(resolution) * in_.read(bits(room / resolution));
            if (in_.overrun() || bytes < min_bytes || bytes > L_ - defined - min_bytes) {
                return false;
            }
            defined += static_cast<std::uint32_t>(bytes);
            room -= static_cast<std::uint32_t>(bytes);
            s.start[c][++count] = defined;
            return true;
        };
        const auto end_channel = [&](unsigned c) {
            s.start[c][0] = 0;
            s.count[c] = count + 1;
            s.start[c][count + 1] = L_;
        };

        if (in_.bit() != 0) {  // same for all channels
            start_channel();
            while (in_.bit() == 0) {
                if (in_.overrun() || count == max_segments || !explicit_segment(0)) {
                    return false;
                }
            }
            end_channel(0);
            for (unsigned c = 1; c < channels_; ++c) {
                s.count[c] = s.count[0];
                s.start[c] = s.start[0];
            }
            return !in_.overrun();
        }
        for (unsigned c = 0; c < channels_; ++c) {
            start_channel();
            for (;;) {
                if (count == max_segments) {
                    return false;
                }
                if (in_.bit() != 0) {
                    break;
                }
                if (in_.overrun() || !explicit_segment(c)) {
                    return false;
                }
            }
            end_channel(c);
        }
        return !in_.overrun();
    }

    bool read_mapping(Segments& s, unsigned& numbers) {
        unsigned count = 1;
        const auto assign = [&](std::uint8_t& number) {
            const std::uint32_t value = in_.read(bits(count));
            if (value > count) {
                return false;
            }
            count += value == count ? 1 : 0;
            number = static_cast<std::uint8_t>(value);
            return true;
        };
        s.number[0][0] = 0;
        if (in_.bit() != 0) {  // same for all channels
            for (unsigned seg = 1; seg < s.count[0]; ++seg) {
                if (!assign(s.number[0][seg])) {
                    return false;
                }
            }
            for (unsigned c = 1; c < channels_; ++c) {
                if (s.count[c] != s.count[0]) {
                    return false;
                }
                s.number[c] = s.number[0];
            }
        } else {
            for (unsigned c = 0; c < channels_; ++c) {
                for (unsigned seg = c == 0 ? 1 : 0; seg < s.count[c]; ++seg) {
                    if (!assign(s.number[c][seg])) {
                        return false;
                    }
                }
            }
        }
        numbers = count;
        return count <= 2 * channels_ && !in_.overrun();
    }

    // The first `k` values raw, the rest Rice-coded against a prediction
    // from the previous ones; each must lie in lo .. hi.
    template <typename T, std::size_t Size, typename ReadRaw>
    bool read_predicted(std::array<T, Size>& values, unsigned count,
                        std::span<const std::int32_t> weights, std::int32_t lo, std::int32_t hi,
                        ReadRaw read_raw) {
        const auto k = static_cast<unsigned>(weights.size());
        if (k >= count) {
            return false;
        }
        for (unsigned i = 0; i < k; ++i) {
            values[i] = static_cast<T>(read_raw());
        }
        const unsigned m = in_.read(3);
        for (unsigned i = k; i < count; ++i) {
            std::int64_t x = 0;
            for (unsigned t = 0; t < k; ++t) {
                x += static_cast<std::int64_t>(weights[t]) * values[i - t - 1];
            }
            const std::int64_t v = in_.read_rice(m) - prediction_term(x);
            if (in_.overrun() || v < lo || v > hi) {
                return false;
            }
            values[i] = static_cast<T>(v);
        }
        return true;
    }

    bool read_filter(FrameHeader& h, unsigned f) {
        static constexpr std::int32_t P[3][3] = {{-8}, {-16, 8}, {-9, -5, 6}};
        auto& coef = h.coef[f];
        coef.fill(0);
        const unsigned order = in_.read(7) + 1;
        h.order[f] = order;
        if (in_.bit() == 0) {
            for (unsigned i = 0; i < order; ++i) {
                coef[i] = static_cast<std::int16_t>(in_.read_signed9());
            }
            return true;
        }
        const unsigned method = in_.read(2);
        if (method == 3) {
            return false;
        }
        return read_predicted(coef, order, std::span(P[method], method + 1), -256, 255,
                              [&] { return in_.read_signed9(); });
    }

    bool read_table(FrameHeader& h, unsigned t) {
        static constexpr std::int32_t Q[3][3] = {{-8}, {-16, 8}, {-24, 24, -8}};
        auto& entry = h.entry[t];
        const unsigned length = in_.read(6) + 1;
        h.length[t] = length;
        if (length == 1) {
            entry[0] = 128;
            return true;
        }
        if (in_.bit() == 0) {
            for (unsigned i = 0; i < length; ++i) {
                entry[i] = static_cast<std::uint8_t>(in_.read(7) + 1);
            }
            return true;
        }
        const unsigned method = in_.read(2);
        if (method == 3) {
            return false;
        }
        return read_predicted(entry, length, std::span(Q[method], method + 1), 1, 128,
                              [&] { return in_.read(7) + 1; });
    }

    BitReader in_;
    unsigned channels_;
    std::uint32_t L_;
};

}  // namespace

bool read_frame_header(std::span<const std::uint8_t> frame, unsigned channels,
                       std::uint32_t bytes_per_channel, FrameHeader& header) {
    return HeaderReader(frame, channels, bytes_per_channel).read(header);
}

}  // namespace dsd::dst::detail
