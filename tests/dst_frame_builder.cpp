#include "dst_frame_builder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "dsf_generator.hpp"

namespace dsd::test::dst {
namespace {

constexpr int filter_weights[3][3] = {{-8}, {-16, 8}, {-9, -5, 6}};
constexpr int table_weights[3][3] = {{-8}, {-16, 8}, {-24, 24, -8}};

unsigned bits(std::uint64_t x) {
    return static_cast<unsigned>(std::bit_width(x));
}

int floor_div8(int x) {
    return x >= 0 ? x / 8 : -((-x + 7) / 8);
}

class BitWriter {
  public:
    void put(std::uint64_t v, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            bits_.push_back(i < 64 ? static_cast<std::uint8_t>((v >> i) & 1) : 0);
        }
    }
    void put_signed(int v, unsigned n) { put(static_cast<std::uint64_t>(v) & ((1u << n) - 1), n); }
    void rice(int v, unsigned m) {
        const auto magnitude = static_cast<unsigned>(std::abs(v));
        put(0, magnitude >> m);
        put(1, 1);
        put(magnitude, m);
        if (v != 0) {
            put(v < 0 ? 1 : 0, 1);
        }
    }
    std::vector<std::uint8_t>& bits() { return bits_; }
    Bytes pack() const {
        Bytes out((bits_.size() + 7) / 8, 0);
        for (std::size_t i = 0; i < bits_.size(); ++i) {
            out[i / 8] |= static_cast<std::uint8_t>(bits_[i] << (7 - i % 8));
        }
        return out;
    }

  private:
    std::vector<std::uint8_t> bits_;
};

// The arithmetic coder, its low end B kept in a 12-bit window: a carry out
// of it runs back into the bits already written.
class ArithmeticEncoder {
  public:
    explicit ArithmeticEncoder(std::vector<std::uint8_t>& out) : out_(out) {}

    void encode(unsigned r, unsigned p) {
        const unsigned w = (a_ >> 8) | ((a_ >> 7) & 1);
        const unsigned q = w * p;
        const unsigned h = a_ - q;
        if (r != 0) {
            a_ = h;
        } else {
            b_ += h;
            a_ = q;
        }
        carry_out();
        while (a_ < 2048) {
            a_ <<= 1;
            b_ <<= 1;
            out_.push_back(static_cast<std::uint8_t>(b_ >> 12));
            b_ &= 0xFFF;
        }
    }

    // The fewest bits whose value, followed by zeros, lies in [B, B + A).
    void finish() {
        for (unsigned t = 0; t <= 12; ++t) {
            const unsigned unit = 1u << (12 - t);
            const unsigned v = (b_ + unit - 1) / unit * unit;
            if (v < b_ + a_) {
                b_ = v;
                carry_out();
                for (unsigned i = 0; i < t; ++i) {
                    out_.push_back(static_cast<std::uint8_t>((b_ >> (11 - i)) & 1));
                }
                return;
            }
        }
    }

  private:
    void carry_out() {
        if (b_ < 4096) {
            return;
        }
        b_ -= 4096;
        for (std::size_t i = out_.size(); i-- > 0;) {
            out_[i] ^= 1;
            if (out_[i] != 0) {
                break;
            }
        }
    }

    std::vector<std::uint8_t>& out_;
    unsigned a_ = 4095;
    unsigned b_ = 0;
};

const std::vector<std::uint32_t>& channel_list(const Segmentation& s, unsigned c) {
    return s.lengths[s.same_for_all ? 0 : c];
}

unsigned number(const Mapping& map, unsigned c, std::size_t s) {
    const auto& list = map.numbers[map.same_for_all ? 0 : c];
    return s < list.size() ? list[s] : 0;
}

struct Layout {
    // Per channel: the segments' first bytes, and the end.
    std::vector<std::vector<std::size_t>> starts;
    const Mapping* map = nullptr;
    unsigned at(unsigned c, std::size_t byte) const {
        std::size_t s = 0;
        while (starts[c][s + 1] <= byte) {
            ++s;
        }
        return number(*map, c, s);
    }
};

Layout layout(const FrameSpec& spec, const Segmentation& seg, const Mapping& map) {
    Layout out;
    out.map = &map;
    for (unsigned c = 0; c < spec.channels; ++c) {
        std::vector<std::size_t> starts{0};
        for (const std::uint32_t length : channel_list(seg, c)) {
            starts.push_back(starts.back() + std::size_t{seg.resolution} * length);
        }
        starts.push_back(spec.bytes_per_channel);
        out.starts.push_back(starts);
    }
    return out;
}

void write_segmentation(BitWriter& w, const FrameSpec& spec, const Segmentation& s,
                        std::uint32_t min_bits) {
    const std::uint64_t room_at_start = spec.bytes_per_channel - min_bits / 8;
    bool resolution_written = false;
    w.put(s.same_for_all ? 1 : 0, 1);
    for (const auto& list : s.lengths) {
        std::uint64_t room = room_at_start;
        for (const std::uint32_t length : list) {
            w.put(0, 1);
            if (!resolution_written) {
                w.put(s.resolution, bits(room_at_start));
                resolution_written = true;
            }
            w.put(length, bits(room / std::max(s.resolution, 1u)));
            room -= std::min<std::uint64_t>(room, std::uint64_t{s.resolution} * length);
        }
        w.put(1, 1);
    }
}

void write_mapping(BitWriter& w, const FrameSpec& spec, const Segmentation& seg,
                   const Mapping& map) {
    unsigned count = 1;
    w.put(map.same_for_all ? 1 : 0, 1);
    for (unsigned c = 0; c < (map.same_for_all ? 1 : spec.channels); ++c) {
        for (std::size_t s = c == 0 ? 1 : 0; s <= channel_list(seg, c).size(); ++s) {
            const unsigned v = number(map, c, s);
            w.put(v, bits(count));
            count += v == count ? 1 : 0;
        }
    }
}

template <typename Values>
void write_values(BitWriter& w, const Values& values, const Coding& coding,
                  const int (&weights)[3][3], unsigned raw_bits, int raw_offset) {
    const auto raw = [&](int v) { w.put_signed(v - raw_offset, raw_bits); };
    w.put(coding.rice ? 1 : 0, 1);
    if (!coding.rice) {
        std::for_each(values.begin(), values.end(), raw);
        return;
    }
    w.put(coding.method, 2);
    const unsigned method = std::min(coding.method, 2u);
    const unsigned k = method + 1;
    for (unsigned i = 0; i < k && i < values.size(); ++i) {
        raw(values[i]);
    }
    w.put(coding.m, 3);
    for (std::size_t i = k; i < values.size(); ++i) {
        int x = 0;
        for (unsigned t = 0; t < k; ++t) {
            x += weights[method][t] * values[i - t - 1];
        }
        w.rice(values[i] + floor_div8(x + 4), coding.m);
    }
}

const Segmentation& table_segmentation(const FrameSpec& spec) {
    return spec.tables_same_segmentation ? spec.filter_segmentation : spec.table_segmentation;
}

const Mapping& table_mapping(const FrameSpec& spec) {
    return spec.tables_same_mapping ? spec.filter_mapping : spec.table_mapping;
}

BitWriter header(const FrameSpec& spec) {
    BitWriter w;
    w.put(1, 1);
    w.put(spec.tables_same_segmentation ? 1 : 0, 1);
    write_segmentation(w, spec, spec.filter_segmentation, 1024);
    if (!spec.tables_same_segmentation) {
        write_segmentation(w, spec, spec.table_segmentation, 32);
    }
    w.put(spec.tables_same_mapping ? 1 : 0, 1);
    write_mapping(w, spec, spec.filter_segmentation, spec.filter_mapping);
    if (!spec.tables_same_mapping) {
        write_mapping(w, spec, table_segmentation(spec), spec.table_mapping);
    }
    for (unsigned c = 0; c < spec.channels; ++c) {
        w.put(c < spec.half_probability.size() && spec.half_probability[c] ? 1 : 0, 1);
    }
    for (const Filter& f : spec.filters) {
        w.put(f.coef.size() - 1, 7);
        write_values(w, f.coef, f.coding, filter_weights, 9, 0);
    }
    for (const Table& t : spec.tables) {
        w.put(t.entry.size() - 1, 6);
        if (t.entry.size() > 1) {
            write_values(w, t.entry, t.coding, table_weights, 7, 1);
        }
    }
    return w;
}

unsigned reverse7(int v) {
    unsigned r = 0;
    for (unsigned i = 0; i < 7; ++i) {
        r |= ((static_cast<unsigned>(v) >> i) & 1) << (6 - i);
    }
    return r;
}

// Walks the frame's bits in coding order with each bit's prediction and
// probability (before the bit enters the history).
template <typename Visit>
void walk(const FrameSpec& spec, std::span<const std::uint8_t> sound, Visit visit) {
    const unsigned n_channels = spec.channels;
    const Layout filters = layout(spec, spec.filter_segmentation, spec.filter_mapping);
    const Layout tables = layout(spec, table_segmentation(spec), table_mapping(spec));
    std::vector<std::array<std::uint8_t, 128>> history(n_channels);
    for (auto& h : history) {
        for (unsigned j = 0; j < 128; ++j) {
            h[(128 - j) % 128] = static_cast<std::uint8_t>(j & 1);  // h[j] at (top - j)
        }
    }
    unsigned top = 0;
    for (std::size_t n = 0; n < 8 * spec.bytes_per_channel; ++n) {
        for (unsigned c = 0; c < n_channels; ++c) {
            const Filter& f = spec.filters.at(filters.at(c, n / 8));
            int predict = 0;
            for (unsigned j = 0; j < f.coef.size(); ++j) {
                predict += f.coef[j] * (2 * history[c][(top - j) % 128] - 1);
            }
            predict = static_cast<std::int16_t>(predict);
            const Table& t = spec.tables.at(tables.at(c, n / 8));
            const std::size_t index =
                std::min<std::size_t>(std::abs(predict) >> 3, t.entry.size() - 1);
            // Out-of-range entries (of damaged frames) clamped, so coding ends.
            unsigned p = t.entry.size() == 1 ? 128 : std::clamp(t.entry[index], 1, 128);
            const bool half = c < spec.half_probability.size() && spec.half_probability[c];
            if (half && n < spec.filters.at(filters.at(c, 0)).coef.size()) {
                p = 128;
            }
            const unsigned bit = (sound[n / 8 * n_channels + c] >> (7 - n % 8)) & 1;
            visit(c, n, index, bit ^ (predict < 0 ? 1u : 0u), p);
            history[c][(top + 1) % 128] = static_cast<std::uint8_t>(bit);
        }
        top = (top + 1) % 128;
    }
}

}  // namespace

std::size_t header_bits(const FrameSpec& spec) {
    return header(spec).bits().size();
}

Bytes compressed_frame(const FrameSpec& spec, std::span<const std::uint8_t> sound) {
    BitWriter w = header(spec);
    w.put(0, 1);
    ArithmeticEncoder coder(w.bits());
    coder.encode(spec.first_bit, reverse7(spec.filters[0].coef[0]) + 1);
    walk(spec, sound,
         [&](unsigned, std::size_t, std::size_t, unsigned r, unsigned p) { coder.encode(r, p); });
    coder.finish();
    return w.pack();
}

void fit_tables(FrameSpec& spec, std::span<const std::uint8_t> sound) {
    const Layout tables = layout(spec, table_segmentation(spec), table_mapping(spec));
    std::vector<std::array<std::array<double, 2>, 64>> counts(spec.tables.size());
    walk(spec, sound, [&](unsigned c, std::size_t n, std::size_t index, unsigned r, unsigned) {
        counts[tables.at(c, n / 8)][index][r] += 1;
    });
    for (std::size_t t = 0; t < spec.tables.size(); ++t) {
        for (std::size_t i = 0; i < spec.tables[t].entry.size(); ++i) {
            const auto& k = counts[t][i];
            const double zero = (k[0] + 0.5) / (k[0] + k[1] + 1);
            spec.tables[t].entry[i] = std::clamp(static_cast<int>(std::lround(256 * zero)), 1, 128);
        }
    }
}

FrameSpec fitted_spec(unsigned channels, std::size_t bytes_per_channel,
                      std::span<const std::uint8_t> sound, unsigned order, unsigned table_length) {
    FrameSpec spec;
    spec.channels = channels;
    spec.bytes_per_channel = bytes_per_channel;
    spec.filter_mapping.same_for_all = false;
    spec.filter_mapping.numbers.clear();
    for (unsigned c = 0; c < channels; ++c) {
        // Levinson-Durbin on the autocorrelation of the +-1 signal.
        const std::size_t n_bits = 8 * bytes_per_channel;
        const auto x = [&](std::size_t n) {
            return ((sound[n / 8 * channels + c] >> (7 - n % 8)) & 1) != 0 ? 1.0 : -1.0;
        };
        std::vector<double> r(order + 1, 0.0);
        for (std::size_t n = 0; n < n_bits; ++n) {
            for (unsigned k = 0; k <= order && k <= n; ++k) {
                r[k] += x(n) * x(n - k);
            }
        }
        std::vector<double> a(order + 1, 0.0);
        double error = r[0];
        for (unsigned i = 1; i <= order && error > 0; ++i) {
            double acc = r[i];
            for (unsigned j = 1; j < i; ++j) {
                acc -= a[j] * r[i - j];
            }
            const double k = acc / error;
            std::vector<double> next = a;
            next[i] = k;
            for (unsigned j = 1; j < i; ++j) {
                next[j] = a[j] - k * a[i - j];
            }
            a = next;
            error *= 1 - k * k;
        }
        Filter f;
        for (unsigned j = 1; j <= order; ++j) {
            f.coef.push_back(std::clamp(static_cast<int>(std::lround(256 * a[j])), -256, 255));
        }
        spec.filters.push_back(f);
        spec.tables.push_back({std::vector<int>(table_length, 64), {}});
        spec.filter_mapping.numbers.push_back({c});
    }
    fit_tables(spec, sound);
    return spec;
}

Bytes stored_frame(std::span<const std::uint8_t> sound) {
    Bytes frame(1 + sound.size());
    frame[0] = 0x40;  // the free second bit set
    std::copy(sound.begin(), sound.end(), frame.begin() + 1);
    return frame;
}

Bytes tone(double hz, std::uint32_t rate, std::size_t bytes) {
    dsd::testgen::DsfSpec spec;
    spec.sampling_frequency = rate;
    spec.bits_per_sample = 8;  // earliest sample in the most significant bit
    spec.sample_count = 8 * static_cast<std::uint64_t>(bytes);
    spec.left_hz = hz;
    const Bytes file = dsd::testgen::make_dsf(spec);
    // The left channel's 4096-byte blocks, after the 92-byte header.
    Bytes out;
    for (std::size_t at = 92; out.size() < bytes; at += 2 * 4096) {
        const std::size_t n = std::min<std::size_t>(4096, bytes - out.size());
        out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                   file.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return out;
}

Bytes interleave(const std::vector<Bytes>& channels) {
    Bytes out(channels.size() * channels[0].size());
    for (std::size_t i = 0; i < channels[0].size(); ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            out[i * channels.size() + c] = channels[c][i];
        }
    }
    return out;
}

}  // namespace dsd::test::dst
