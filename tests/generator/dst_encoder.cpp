#include "dst_encoder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace dsd::testgen {

std::uint64_t SeedRandom::next() {
    // splitmix64
    state_ += 0x9E3779B97F4A7C15U;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9U;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBU;
    return z ^ (z >> 31);
}

std::uint64_t SeedRandom::below(std::uint64_t bound) {
    return next() % bound;
}

int SeedRandom::between(int low, int high) {
    return low + static_cast<int>(below(static_cast<std::uint64_t>(high - low) + 1));
}

bool SeedRandom::chance(unsigned numerator, unsigned denominator) {
    return below(denominator) < numerator;
}

Bytes random_sound(std::size_t count, std::uint64_t seed) {
    SeedRandom random(seed);
    Bytes out(count);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(random.next() >> 56);
    }
    return out;
}

DstGeometry dst_geometry(unsigned channels, std::uint32_t rate) {
    return {channels, rate / 600};
}

namespace {

constexpr std::array<std::array<int, 3>, 3> filter_prediction{{{-8}, {-16, 8}, {-9, -5, 6}}};
constexpr std::array<std::array<int, 3>, 3> table_prediction{{{-8}, {-16, 8}, {-24, 24, -8}}};

unsigned bits(std::uint64_t x) {
    return static_cast<unsigned>(std::bit_width(x));
}

int floor_div8(int x) {
    return x >= 0 ? x / 8 : -((-x + 7) / 8);
}

bool sound_bit(std::span<const std::uint8_t> sound, unsigned channels, unsigned c, std::size_t n) {
    return ((sound[(n / 8) * channels + c] >> (7 - n % 8)) & 1U) != 0;
}

class BitWriter {
  public:
    void put(std::uint64_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            put_bit(((value >> i) & 1U) != 0);
        }
    }
    void put_bit(bool bit) {
        if (size_ % 8 == 0) {
            bytes_.push_back(0);
        }
        if (bit) {
            bytes_.back() |= static_cast<std::uint8_t>(0x80U >> (size_ % 8));
        }
        ++size_;
    }
    void put_signed(int value, unsigned count) {
        put(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)) & ((1U << count) - 1),
            count);
    }
    void put_rice(int value, unsigned m) {
        const auto magnitude = static_cast<std::uint64_t>(std::abs(value));
        for (std::uint64_t i = magnitude >> m; i > 0; --i) {
            put_bit(false);
        }
        put_bit(true);
        put(magnitude, m);
        if (value != 0) {
            put_bit(value < 0);
        }
    }
    std::uint64_t size() const { return size_; }
    Bytes take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
    std::uint64_t size_ = 0;
};

std::uint64_t rice_length(int value, unsigned m) {
    const auto magnitude = static_cast<std::uint64_t>(std::abs(value));
    return (magnitude >> m) + 1 + m + (value != 0 ? 1 : 0);
}

// The residuals a Rice coding of `values` writes after its first k values.
std::vector<int> rice_residuals(const std::vector<int>& values, unsigned method,
                                const std::array<std::array<int, 3>, 3>& prediction) {
    std::vector<int> out;
    const std::size_t k = method + 1;
    for (std::size_t i = k; i < values.size(); ++i) {
        int x = 0;
        for (std::size_t t = 0; t < k; ++t) {
            x += prediction[std::min(method, 2U)][t] * values[i - t - 1];
        }
        out.push_back(values[i] + floor_div8(x + 4));
    }
    return out;
}

unsigned best_rice_m(const std::vector<int>& residuals) {
    unsigned best = 0;
    std::uint64_t best_size = UINT64_MAX;
    for (unsigned m = 0; m < 8; ++m) {
        std::uint64_t size = 0;
        for (const int r : residuals) {
            size += rice_length(r, m);
        }
        if (size < best_size) {
            best_size = size;
            best = m;
        }
    }
    return best;
}

// Coefficients (width 9, stored as is) or table entries (width 7, stored
// less one).
struct ValueFormat {
    unsigned width;
    int offset;
    const std::array<std::array<int, 3>, 3>& prediction;
};
constexpr ValueFormat coefficient_format{9, 0, filter_prediction};
constexpr ValueFormat entry_format{7, 1, table_prediction};

void write_values(BitWriter& out, const std::vector<int>& values, const DstCoding& coding,
                  const ValueFormat& format, bool method_3 = false) {
    out.put_bit(coding.rice);
    if (!coding.rice) {
        for (const int v : values) {
            out.put_signed(v - format.offset, format.width);
        }
        return;
    }
    out.put(method_3 ? 3 : coding.method, 2);
    const std::size_t k = std::min<std::size_t>(coding.method + 1, values.size());
    for (std::size_t i = 0; i < k; ++i) {
        out.put_signed(values[i] - format.offset, format.width);
    }
    const auto residuals = rice_residuals(values, coding.method, format.prediction);
    const unsigned m = coding.rice_m.value_or(best_rice_m(residuals));
    out.put(m, 3);
    for (const int r : residuals) {
        out.put_rice(r, m);
    }
}

std::uint64_t coded_size(const std::vector<int>& values, const DstCoding& coding,
                         const ValueFormat& format) {
    if (!coding.rice) {
        return 1 + values.size() * format.width;
    }
    const auto residuals = rice_residuals(values, coding.method, format.prediction);
    const unsigned m = coding.rice_m.value_or(best_rice_m(residuals));
    std::uint64_t size = 1 + 2 + (coding.method + 1) * format.width + 3;
    for (const int r : residuals) {
        size += rice_length(r, m);
    }
    return size;
}

DstCoding best_coding(const std::vector<int>& values, const ValueFormat& format) {
    DstCoding best;
    std::uint64_t best_size = coded_size(values, best, format);
    for (unsigned method = 0; method < 3 && method + 1 < values.size(); ++method) {
        const DstCoding rice{true, method, std::nullopt};
        if (const auto size = coded_size(values, rice, format); size < best_size) {
            best_size = size;
            best = rice;
        }
    }
    return best;
}

DstCoding random_coding(std::size_t count, SeedRandom& random) {
    DstCoding coding;
    if (count < 2 || random.chance(1, 3)) {
        return coding;
    }
    coding.rice = true;
    coding.method = static_cast<unsigned>(random.below(std::min<std::size_t>(3, count - 1)));
    if (random.chance(1, 2)) {
        coding.rice_m = static_cast<unsigned>(random.below(8));
    }
    return coding;
}

// The last 128 bits of one channel: bit j of the pair is h[j], h[0] newest.
struct History {
    std::uint64_t low = 0xAAAAAAAAAAAAAAAAU;
    std::uint64_t high = 0xAAAAAAAAAAAAAAAAU;

    void push(bool bit) {
        high = high << 1 | low >> 63;
        low = low << 1 | (bit ? 1U : 0U);
    }
    unsigned group(unsigned g) const {
        return static_cast<unsigned>(((g < 8 ? low >> (8 * g) : high >> (8 * (g - 8)))) & 0xFF);
    }
};

// Per group of 8 history bits, the sum of their terms for every value.
class FilterLookup {
  public:
    explicit FilterLookup(const std::vector<int>& coefficients)
        : groups_(static_cast<unsigned>((coefficients.size() + 7) / 8)),
          sums_(static_cast<std::size_t>(groups_) * 256) {
        for (unsigned g = 0; g < groups_; ++g) {
            for (unsigned value = 0; value < 256; ++value) {
                int sum = 0;
                for (unsigned l = 0; l < 8 && 8 * g + l < coefficients.size(); ++l) {
                    const int c = coefficients[8 * g + l];
                    sum += ((value >> l) & 1U) != 0 ? c : -c;
                }
                sums_[g * 256 + value] = sum;
            }
        }
    }
    int predict(const History& h) const {
        int sum = 0;
        for (unsigned g = 0; g < groups_; ++g) {
            sum += sums_[g * 256 + h.group(g)];
        }
        return static_cast<std::int16_t>(sum);
    }

  private:
    unsigned groups_;
    std::vector<int> sums_;
};

// Where each segment of a channel starts, in bits, and past the last one.
std::vector<std::size_t> segment_bounds(const DstSegmentation& segmentation, unsigned channel,
                                        const DstGeometry& geometry) {
    std::vector<std::size_t> bounds{0};
    const auto& lengths = segmentation.lengths[segmentation.same_for_all_channels ? 0 : channel];
    for (const unsigned length : lengths) {
        bounds.push_back(bounds.back() + std::size_t{8} * segmentation.resolution * length);
    }
    bounds.push_back(geometry.bits_per_channel());
    return bounds;
}

// Walks one channel's segments bit by bit, giving each bit's number.
class SegmentWalk {
  public:
    SegmentWalk(const DstSegmentation& segmentation, const DstMapping& mapping, unsigned channel,
                const DstGeometry& geometry)
        : bounds_(segment_bounds(segmentation, channel, geometry)),
          numbers_(mapping.numbers[mapping.same_for_all_channels ? 0 : channel]) {}
    unsigned at(std::size_t n) {
        while (n >= bounds_[segment_ + 1]) {
            ++segment_;
        }
        return numbers_[segment_];
    }

  private:
    std::vector<std::size_t> bounds_;
    const std::vector<unsigned>& numbers_;
    std::size_t segment_ = 0;
};

unsigned first_filter(const DstFramePlan& plan, unsigned channel) {
    return plan.filter_mapping.numbers[plan.filter_mapping.same_for_all_channels ? 0 : channel][0];
}

unsigned number_count(const DstMapping& mapping) {
    unsigned count = 0;
    for (const auto& list : mapping.numbers) {
        for (const unsigned n : list) {
            count = std::max(count, n + 1);
        }
    }
    return count;
}

// Whether every channel's segments have a number each, below `count`, and
// fit in the frame.
bool segments_fit(const DstSegmentation& s, const DstMapping& m, std::size_t count,
                  const DstGeometry& geometry) {
    if (s.lengths.size() < (s.same_for_all_channels ? 1 : geometry.channels) ||
        m.numbers.size() < (m.same_for_all_channels ? 1 : geometry.channels)) {
        return false;
    }
    for (unsigned c = 0; c < geometry.channels; ++c) {
        const auto bounds = segment_bounds(s, c, geometry);
        const auto& numbers = m.numbers[m.same_for_all_channels ? 0 : c];
        if (!std::is_sorted(bounds.begin(), bounds.end()) || numbers.size() != bounds.size() - 1 ||
            std::any_of(numbers.begin(), numbers.end(), [&](unsigned n) { return n >= count; })) {
            return false;
        }
    }
    return true;
}

bool valid_filter(const DstFilter& f) {
    return !f.coefficients.empty() && f.coefficients.size() <= dst_max_filter_order;
}

bool valid_table(const DstTable& t) {
    // 129 is out of range but codable: a damage.
    return !t.entries.empty() && t.entries.size() <= dst_max_table_length &&
           std::all_of(t.entries.begin(), t.entries.end(),
                       [](int e) { return e >= 1 && e <= 129; });
}

// Whether the plan describes a sound the encoder can code: damaged headers
// need not, and are followed by a token of coded data.
bool codable(const DstFramePlan& plan, const DstGeometry& geometry) {
    return plan.half_probability.size() == geometry.channels && !plan.filters.empty() &&
           std::all_of(plan.filters.begin(), plan.filters.end(), valid_filter) &&
           std::all_of(plan.tables.begin(), plan.tables.end(), valid_table) &&
           segments_fit(plan.filter_segments, plan.filter_mapping, plan.filters.size(), geometry) &&
           segments_fit(plan.effective_table_segments(), plan.effective_table_mapping(),
                        plan.tables.size(), geometry);
}

// --- Choosing ---------------------------------------------------------------

struct SegmentLimits {
    unsigned max_segments;
    std::size_t min_bytes;
};

SegmentLimits limits(bool filters) {
    return filters ? SegmentLimits{dst_filter_max_segments, dst_filter_min_bits / 8}
                   : SegmentLimits{dst_table_max_segments, dst_table_min_bits / 8};
}

// low .. high, the ends more often than the rest.
int edgy(SeedRandom& random, int low, int high) {
    switch (random.below(4)) {
        case 0:
            return low;
        case 1:
            return high;
        default:
            return random.between(low, high);
    }
}

DstSegmentation draw_segmentation(const DstGeometry& geometry, bool filters, SeedRandom& random) {
    const auto [max_segments, min_bytes] = limits(filters);
    DstSegmentation s;
    s.same_for_all_channels = random.chance(1, 2);
    // Explicit segments: up to the limit with one list for all, one fewer per channel.
    std::vector<unsigned> counts(s.same_for_all_channels ? 1 : geometry.channels);
    for (auto& count : counts) {
        count = static_cast<unsigned>(
            edgy(random, 0, static_cast<int>(max_segments - (s.same_for_all_channels ? 0 : 1))));
    }
    const unsigned most = *std::max_element(counts.begin(), counts.end());
    const std::size_t span = geometry.bytes_per_channel - min_bytes;
    s.resolution = 1;
    if (most > 0) {
        s.resolution = static_cast<unsigned>(
            random.chance(1, 2)
                ? random.between(1, static_cast<int>(min_bytes))
                : edgy(random, static_cast<int>(min_bytes), static_cast<int>(span / most)));
        if (most * s.resolution * ((min_bytes + s.resolution - 1) / s.resolution) > span) {
            s.resolution = 1;
        }
    }
    const std::size_t r = s.resolution;
    const std::size_t min_units = (min_bytes + r - 1) / r;
    for (const unsigned count : counts) {
        std::vector<unsigned> lengths;
        std::size_t room = span;
        for (unsigned i = 0; i < count; ++i) {
            const std::size_t later = (count - i - 1) * min_units * r;
            const std::size_t max_units = (room - later) / r;
            const auto units = static_cast<unsigned>(
                edgy(random, static_cast<int>(min_units), static_cast<int>(max_units)));
            lengths.push_back(units);
            room -= units * r;
        }
        s.lengths.push_back(lengths);
    }
    s.lengths.resize(geometry.channels, s.lengths.front());
    return s;
}

DstSegmentation single_segments(const DstGeometry& geometry) {
    DstSegmentation s;
    s.lengths.assign(geometry.channels, {});
    return s;
}

bool same_counts(const DstSegmentation& a, const DstSegmentation& b, unsigned channels) {
    for (unsigned c = 0; c < channels; ++c) {
        if (a.segments(c) != b.segments(c)) {
            return false;
        }
    }
    return true;
}

// Each channel its own number for all its segments.
DstMapping per_channel_mapping(const DstSegmentation& s, unsigned channels) {
    DstMapping m;
    m.same_for_all_channels = false;
    for (unsigned c = 0; c < channels; ++c) {
        m.numbers.emplace_back(s.segments(c), c);
    }
    return m;
}

DstMapping draw_mapping(const DstSegmentation& s, unsigned channels, SeedRandom& random) {
    const unsigned limit = 2 * channels;
    DstMapping m;
    bool equal = true;
    for (unsigned c = 1; c < channels; ++c) {
        equal = equal && s.segments(c) == s.segments(0);
    }
    m.same_for_all_channels = equal && random.chance(1, 2);
    const bool greedy = random.chance(1, 4);
    unsigned count = 1;
    const auto assign = [&]() {
        if (count < limit && (greedy || random.chance(1, 3))) {
            return count++;
        }
        return static_cast<unsigned>(random.below(count));
    };
    for (unsigned c = 0; c < (m.same_for_all_channels ? 1 : channels); ++c) {
        std::vector<unsigned> numbers;
        for (std::size_t seg = 0; seg < s.segments(c); ++seg) {
            numbers.push_back(c == 0 && seg == 0 ? 0 : assign());
        }
        m.numbers.push_back(numbers);
    }
    m.numbers.resize(channels, m.numbers.front());
    return m;
}

// Bits of one channel, 64 to a word, earliest in the top bit; a zero word
// after the last.
std::vector<std::uint64_t> channel_words(std::span<const std::uint8_t> sound,
                                         const DstGeometry& geometry, unsigned channel) {
    std::vector<std::uint64_t> words(geometry.bytes_per_channel / 8 + 2, 0);
    for (std::size_t i = 0; i < geometry.bytes_per_channel; ++i) {
        words[i / 8] |= static_cast<std::uint64_t>(sound[i * geometry.channels + channel])
                        << (56 - 8 * (i % 8));
    }
    return words;
}

std::uint64_t bits_at(const std::vector<std::uint64_t>& words, std::size_t pos) {
    const std::size_t w = pos / 64;
    const unsigned shift = pos % 64;
    return shift == 0 ? words[w] : words[w] << shift | words[w + 1] >> (64 - shift);
}

// A short-term linear predictor of the +-1 signal in bits [begin, end),
// fitted by least squares (autocorrelation and Levinson-Durbin), about 256
// standing for 1.0.
std::vector<int> fit_filter(const std::vector<std::uint64_t>& words, std::size_t begin,
                            std::size_t end, unsigned order) {
    std::vector<double> r(order + 1);
    for (unsigned k = 0; k <= order && begin + k < end; ++k) {
        std::uint64_t differ = 0;
        std::size_t p = begin;
        for (; p + 64 <= end - k; p += 64) {
            differ +=
                static_cast<unsigned>(std::popcount(bits_at(words, p) ^ bits_at(words, p + k)));
        }
        if (const std::size_t rest = end - k - p; rest > 0) {
            const std::uint64_t mask = ~std::uint64_t{0} << (64 - rest);
            differ += static_cast<unsigned>(
                std::popcount((bits_at(words, p) ^ bits_at(words, p + k)) & mask));
        }
        r[k] = static_cast<double>(end - begin - k) - 2.0 * static_cast<double>(differ);
    }
    r[0] *= 1.0001;
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
    double largest = 0;
    for (unsigned j = 1; j <= order; ++j) {
        largest = std::max(largest, std::abs(a[j]));
    }
    const double scale = largest * 256 > 255 ? 255 / largest : 256;
    std::vector<int> coefficients(order);
    for (unsigned j = 0; j < order; ++j) {
        coefficients[j] = static_cast<int>(std::lround(a[j + 1] * scale));
    }
    return coefficients;
}

unsigned draw_order(SeedRandom& random) {
    switch (random.below(8)) {
        case 0:
            return 1;
        case 1:
            return static_cast<unsigned>(random.between(2, 4));
        case 2:
            return dst_max_filter_order;
        default:
            return static_cast<unsigned>(random.between(5, dst_max_filter_order - 1));
    }
}

std::vector<int> draw_coefficients(unsigned order, SeedRandom& random,
                                   const std::vector<int>& fitted) {
    std::vector<int> c(order);
    switch (random.below(8)) {
        case 0:
            for (auto& v : c) {
                v = random.between(-256, 255);
            }
            return c;
        case 1:
            for (auto& v : c) {
                v = random.between(-16, 16);
            }
            return c;
        case 2:
            // The prediction reaches 2^15 and wraps.
            std::fill(c.begin(), c.end(), -256);
            return c;
        case 3:
            for (auto& v : c) {
                v = random.chance(1, 2) ? -256 : 255;
            }
            return c;
        default:
            return fitted;
    }
}

// Per table, per |predict| >> 3 (the last bucket takes everything above),
// how often the residual was 0 and how often anything.
struct TableStats {
    std::array<std::uint64_t, dst_max_table_length> zeros{};
    std::array<std::uint64_t, dst_max_table_length> all{};
};

std::vector<int> estimate_entries(const TableStats& stats, std::size_t length) {
    std::vector<int> entries(length, 64);
    for (std::size_t b = 0; b < length; ++b) {
        std::uint64_t zeros = 0;
        std::uint64_t all = 0;
        for (std::size_t i = b; i < (b + 1 == length ? dst_max_table_length : b + 1); ++i) {
            zeros += stats.zeros[i];
            all += stats.all[i];
        }
        if (all == 0) {
            // No data: the neighbour's estimate.
            entries[b] = b > 0 ? entries[b - 1] : 128;
            continue;
        }
        const double p =
            256.0 * (static_cast<double>(zeros) + 0.4) / (static_cast<double>(all) + 0.8);
        entries[b] = std::clamp(static_cast<int>(std::lround(p)), 1, 128);
    }
    return entries;
}

// At least 2: FFmpeg misreads tables of length 1.
std::size_t best_length(const TableStats& stats) {
    std::size_t length = 2;
    for (std::size_t b = 0; b < dst_max_table_length; ++b) {
        if (stats.all[b] != 0) {
            length = std::max(length, b + 1);
        }
    }
    return length;
}

// Shapes the plan so that `damage` can be written into it.
void prepare_damage(DstFramePlan& plan, const DstGeometry& geometry, DstDamage damage) {
    const unsigned n = geometry.channels;
    switch (damage) {
        case DstDamage::stored_stuffing:
        case DstDamage::stored_cut:
            plan.stored = true;
            break;
        case DstDamage::mapping_out_of_range: {
            plan.tables_same_segmentation = true;
            plan.tables_same_mapping = true;
            // Channel 0 introduces filter 1, then its next assignment is
            // written with 2 bits while only 0 .. 2 are allowed.
            std::vector<unsigned> counts(n, 0);
            counts[0] = 2;
            plan.filter_segments = even_dst_segments(geometry, true, counts, false);
            plan.filter_mapping = per_channel_mapping(plan.filter_segments, n);
            plan.filter_mapping.numbers[0] = {0, 1, 1};
            for (unsigned c = 1; c < n; ++c) {
                std::fill(plan.filter_mapping.numbers[c].begin(),
                          plan.filter_mapping.numbers[c].end(), c == 1 ? 1 : 0);
            }
            break;
        }
        case DstDamage::too_many_filters: {
            plan.tables_same_segmentation = true;
            plan.tables_same_mapping = true;
            plan.filter_segments =
                even_dst_segments(geometry, true, std::vector<unsigned>(n, 2), false);
            plan.filter_mapping.same_for_all_channels = false;
            plan.filter_mapping.numbers.clear();
            unsigned next = 0;
            for (unsigned c = 0; c < n; ++c) {
                plan.filter_mapping.numbers.emplace_back();
                for (unsigned s = 0; s < 3; ++s) {
                    plan.filter_mapping.numbers[c].push_back(next <= 2 * n ? next++ : 0);
                }
            }
            break;
        }
        case DstDamage::segment_count_mismatch:
            plan.tables_same_segmentation = false;
            plan.filter_segments = single_segments(geometry);
            plan.table_segments = even_dst_segments(geometry, false, {1}, true);
            plan.tables_same_mapping = true;
            plan.filter_mapping = per_channel_mapping(plan.filter_segments, n);
            break;
        default:
            break;
    }
}

// Filter changes the damage needs, once the filters exist.
void damage_filters(DstFramePlan& plan, DstDamage damage) {
    auto& filter = plan.filters[0];
    switch (damage) {
        case DstDamage::rice_method_3:
            filter.coefficients.resize(std::max<std::size_t>(filter.coefficients.size(), 5));
            filter.coding = {true, 2, std::nullopt};
            break;
        case DstDamage::rice_method_too_long:
            filter.coefficients.resize(2);
            filter.coding = {true, 1, std::nullopt};
            break;
        case DstDamage::coefficient_out_of_range:
            filter.coefficients.resize(std::max<std::size_t>(filter.coefficients.size(), 2));
            filter.coefficients.back() = 256;
            filter.coding = {true, 0, std::nullopt};
            break;
        default:
            break;
    }
}

void damage_tables(DstFramePlan& plan, DstDamage damage) {
    if (damage == DstDamage::table_entry_out_of_range) {
        auto& table = plan.tables[0];
        table.entries.resize(std::max<std::size_t>(table.entries.size(), 2), 64);
        table.entries.back() = 129;
        table.coding = {true, 0, std::nullopt};
    }
}

// --- Writing ----------------------------------------------------------------

// The arithmetic coder, with a 12-bit window of the interval's low end and
// carries propagated into the bits already written.
class ArithmeticEncoder {
  public:
    void encode(bool r, unsigned p) {
        const unsigned w = (a_ >> 8) | ((a_ >> 7) & 1U);
        const unsigned q = w * p;
        const unsigned h = a_ - q;
        if (r) {
            a_ = h;
        } else {
            b_ += h;
            a_ = q;
            if (b_ >= 4096) {
                b_ -= 4096;
                carry();
            }
        }
        while (a_ < 2048) {
            a_ <<= 1;
            b_ <<= 1;
            bits_.push_back(static_cast<std::uint8_t>(b_ >> 12));
            b_ &= 4095;
            ++shifts_;
        }
    }
    // The fewest further bits that, followed by zeros, fall in the interval.
    void finish() {
        for (unsigned t = 0; t <= 12; ++t) {
            const unsigned unit = 1U << (12 - t);
            const unsigned x = (b_ + unit - 1) >> (12 - t);
            if (x * unit < b_ + a_) {
                if (x == 1U << t) {
                    carry();
                } else {
                    for (unsigned i = t; i-- > 0;) {
                        bits_.push_back(static_cast<std::uint8_t>((x >> i) & 1U));
                    }
                }
                return;
            }
        }
    }
    const std::vector<std::uint8_t>& bits() const { return bits_; }
    std::uint64_t shifts() const { return shifts_; }

  private:
    void carry() {
        std::size_t i = bits_.size();
        while (bits_[--i] != 0) {
            bits_[i] = 0;
        }
        bits_[i] = 1;
    }

    unsigned a_ = 4095;
    unsigned b_ = 0;
    std::vector<std::uint8_t> bits_;
    std::uint64_t shifts_ = 0;
};

unsigned reverse7(int coefficient) {
    unsigned v = static_cast<unsigned>(coefficient) & 0x7F;
    unsigned out = 0;
    for (unsigned i = 0; i < 7; ++i) {
        out = out << 1 | ((v >> i) & 1U);
    }
    return out;
}

void write_segmentation(BitWriter& out, const DstSegmentation& s, const DstGeometry& geometry,
                        bool filters) {
    const std::size_t span = geometry.bytes_per_channel - limits(filters).min_bytes;
    out.put_bit(s.same_for_all_channels);
    bool resolution_written = false;
    const auto write_channel = [&](const std::vector<unsigned>& lengths) {
        std::size_t room = span;
        for (const unsigned length : lengths) {
            out.put_bit(false);
            if (!resolution_written) {
                out.put(s.resolution, bits(span));
                resolution_written = true;
            }
            out.put(length, bits(s.resolution == 0 ? room : room / s.resolution));
            room -= std::min<std::size_t>(room, std::size_t{s.resolution} * length);
        }
        out.put_bit(true);
    };
    if (s.same_for_all_channels) {
        write_channel(s.lengths[0]);
        return;
    }
    for (unsigned c = 0; c < geometry.channels; ++c) {
        write_channel(s.lengths[c]);
    }
}

// A filter segmentation the decoder must refuse, in place of the plan's.
void write_damaged_segmentation(BitWriter& out, const DstGeometry& geometry, DstDamage damage) {
    const std::size_t min_bytes = dst_filter_min_bits / 8;
    const std::size_t span = geometry.bytes_per_channel - min_bytes;
    DstSegmentation s;
    s.lengths.assign(geometry.channels, {});
    switch (damage) {
        case DstDamage::segment_too_short:
            s.lengths[0] = {static_cast<unsigned>(min_bytes - 1)};
            break;
        case DstDamage::segment_too_long:
            s.lengths[0] = {static_cast<unsigned>(span + 1)};
            break;
        case DstDamage::resolution_zero:
            s.resolution = 0;
            s.lengths[0] = {1};
            break;
        default:  // too_many_segments
            s.lengths[0].assign(dst_filter_max_segments + 1, static_cast<unsigned>(min_bytes));
            break;
    }
    write_segmentation(out, s, geometry, true);
}

void write_mapping(BitWriter& out, const DstMapping& m, const DstGeometry& geometry,
                   bool out_of_range) {
    out.put_bit(m.same_for_all_channels);
    unsigned count = 1;
    bool damaged = false;
    for (unsigned c = 0; c < (m.same_for_all_channels ? 1 : geometry.channels); ++c) {
        for (std::size_t s = c == 0 ? 1 : 0; s < m.numbers[c].size(); ++s) {
            const unsigned width = bits(count);
            unsigned value = m.numbers[c][s];
            if (out_of_range && !damaged && (1U << width) - 1 > count) {
                value = (1U << width) - 1;
                damaged = true;
            }
            out.put(value, width);
            count = std::max(count, value + 1);
        }
    }
}

bool is_segmentation_damage(DstDamage d) {
    return d == DstDamage::segment_too_short || d == DstDamage::segment_too_long ||
           d == DstDamage::resolution_zero || d == DstDamage::too_many_segments;
}

Bytes write_stored(const DstFramePlan& plan, std::span<const std::uint8_t> sound,
                   DstDamage damage) {
    // Sized once: GCC 12 takes an insert after a push_back for an overflow.
    Bytes out(1 + sound.size() + plan.stored_extra_bytes, 0x5A);
    out[0] = static_cast<std::uint8_t>((plan.stored_spare_bit ? 0x40 : 0) |
                                       (damage == DstDamage::stored_stuffing ? 0x04 : 0));
    std::copy(sound.begin(), sound.end(), out.begin() + 1);
    if (damage == DstDamage::stored_cut) {
        out.resize(sound.size());
    }
    return out;
}

// The prediction of every bit of every channel, by the filters of its
// segments (the plan's filter segmentation and mapping must fit).
using Predictions = std::vector<std::vector<std::int16_t>>;

Predictions predict_all(const DstFramePlan& plan, std::span<const std::uint8_t> sound,
                        const DstGeometry& geometry) {
    std::vector<FilterLookup> lookups;
    for (const auto& f : plan.filters) {
        lookups.emplace_back(f.coefficients);
    }
    Predictions out(geometry.channels);
    for (unsigned c = 0; c < geometry.channels; ++c) {
        SegmentWalk filters(plan.filter_segments, plan.filter_mapping, c, geometry);
        History history;
        out[c].resize(geometry.bits_per_channel());
        for (std::size_t i = 0; i < geometry.bits_per_channel(); ++i) {
            out[c][i] = static_cast<std::int16_t>(lookups[filters.at(i)].predict(history));
            history.push(sound_bit(sound, geometry.channels, c, i));
        }
    }
    return out;
}

DstFramePlan plan_frame(std::span<const std::uint8_t> sound, const DstGeometry& geometry,
                        const DstEncoderOptions& options, Predictions& predictions);
Bytes write_frame(const DstFramePlan& plan, std::span<const std::uint8_t> sound,
                  const DstGeometry& geometry, DstDamage damage, DstFrameInfo* info,
                  const Predictions* known);

}  // namespace

DstSegmentation even_dst_segments(const DstGeometry& geometry, bool filters,
                                  const std::vector<unsigned>& explicit_counts,
                                  bool same_for_all_channels) {
    const std::size_t min_bytes = limits(filters).min_bytes;
    DstSegmentation s;
    s.same_for_all_channels = same_for_all_channels;
    s.resolution = static_cast<unsigned>(min_bytes);
    for (unsigned c = 0; c < geometry.channels; ++c) {
        const unsigned count = explicit_counts[same_for_all_channels ? 0 : c];
        const auto units =
            static_cast<unsigned>(geometry.bytes_per_channel / (count + 1) / min_bytes);
        s.lengths.emplace_back(count, units);
    }
    return s;
}

DstFramePlan plan_dst_frame(std::span<const std::uint8_t> sound, const DstGeometry& geometry,
                            const DstEncoderOptions& options) {
    Predictions predictions;
    return plan_frame(sound, geometry, options, predictions);
}

Bytes write_dst_frame(const DstFramePlan& plan, std::span<const std::uint8_t> sound,
                      const DstGeometry& geometry, DstDamage damage, DstFrameInfo* info) {
    return write_frame(plan, sound, geometry, damage, info, nullptr);
}

Bytes encode_dst_frame(std::span<const std::uint8_t> sound, const DstGeometry& geometry,
                       const DstEncoderOptions& options, DstFrameInfo* info) {
    Predictions predictions;
    const DstFramePlan plan = plan_frame(sound, geometry, options, predictions);
    Bytes frame = write_frame(plan, sound, geometry, options.damage, info,
                              predictions.empty() ? nullptr : &predictions);
    if (!plan.stored && !options.random && !options.stored && options.damage == DstDamage::none &&
        frame.size() > geometry.sound_bytes()) {
        DstFramePlan stored;
        stored.stored = true;
        return write_frame(stored, sound, geometry, DstDamage::none, info, nullptr);
    }
    return frame;
}

namespace {

DstFramePlan plan_frame(std::span<const std::uint8_t> sound, const DstGeometry& geometry,
                        const DstEncoderOptions& options, Predictions& predictions) {
    SeedRandom random(options.seed * 0x2545F4914F6CDD1DU + 0x1234567U);
    const bool draw = options.random;
    const bool ffmpeg = options.ffmpeg_readable;
    const unsigned n = geometry.channels;
    DstFramePlan plan;
    plan.stored = options.stored.value_or(draw && !ffmpeg && random.chance(1, 8));
    plan.stored_spare_bit = draw && random.chance(1, 2);
    plan.stored_extra_bytes =
        draw && random.chance(1, 4) ? static_cast<std::size_t>(random.between(1, 3)) : 0;
    plan.tables_same_segmentation =
        options.tables_same_segmentation.value_or(!draw || ffmpeg || random.chance(1, 2));
    plan.filter_segments = options.filter_segments.value_or(
        draw && !ffmpeg ? draw_segmentation(geometry, true, random) : single_segments(geometry));
    if (!plan.tables_same_segmentation) {
        plan.table_segments = options.table_segments.value_or(
            draw && !ffmpeg ? draw_segmentation(geometry, false, random)
                            : single_segments(geometry));
    }
    const auto& table_segments = plan.effective_table_segments();
    plan.tables_same_mapping = options.tables_same_mapping.value_or(
        same_counts(plan.filter_segments, table_segments, n) && (!draw || random.chance(1, 2)));
    plan.filter_mapping =
        options.filter_mapping.value_or(draw ? draw_mapping(plan.filter_segments, n, random)
                                             : per_channel_mapping(plan.filter_segments, n));
    if (!plan.tables_same_mapping) {
        plan.table_mapping =
            options.table_mapping.value_or(draw ? draw_mapping(table_segments, n, random)
                                                : per_channel_mapping(table_segments, n));
    }
    plan.half_probability = options.half_probability.value_or(std::vector<bool>(n, false));
    if (draw && !options.half_probability) {
        for (unsigned c = 0; c < n; ++c) {
            plan.half_probability[c] = random.chance(1, 2);
        }
    }
    plan.first_bit = options.first_bit.value_or(!draw || random.chance(1, 2));
    prepare_damage(plan, geometry, options.damage);
    if (plan.stored) {
        return plan;
    }

    // Filters: each fitted to the first segment it predicts.
    const unsigned filter_count = number_count(plan.filter_mapping);
    std::vector<std::vector<std::uint64_t>> words;
    for (unsigned c = 0; c < n; ++c) {
        words.push_back(channel_words(sound, geometry, c));
    }
    for (unsigned f = 0; f < filter_count; ++f) {
        unsigned order =
            options.filter_order.value_or(draw ? draw_order(random) : dst_max_filter_order);
        if (draw && !options.filter_order && options.filter_coding && options.filter_coding->rice) {
            order = std::max(order, options.filter_coding->method + 2);
        }
        std::size_t begin = 0;
        std::size_t end = geometry.bits_per_channel();
        unsigned channel = 0;
        for (bool found = false; channel < n && !found;) {
            const auto& numbers =
                plan.filter_mapping
                    .numbers[plan.filter_mapping.same_for_all_channels ? 0 : channel];
            const auto bounds = segment_bounds(plan.filter_segments, channel, geometry);
            for (std::size_t s = 0; s < numbers.size() && !found; ++s) {
                if (numbers[s] == f) {
                    begin = bounds[s];
                    end = bounds[s + 1];
                    found = true;
                }
            }
            if (!found) {
                ++channel;
            }
        }
        DstFilter filter;
        const auto fitted = fit_filter(words[std::min(channel, n - 1)], begin, end, order);
        filter.coefficients = draw ? draw_coefficients(order, random, fitted) : fitted;
        filter.coding = options.filter_coding.value_or(
            draw ? random_coding(order, random)
                 : best_coding(filter.coefficients, coefficient_format));
        plan.filters.push_back(filter);
    }
    damage_filters(plan, options.damage);

    // Tables from the residual statistics of the bits they code.
    const auto& table_mapping = plan.effective_table_mapping();
    const unsigned table_count = number_count(table_mapping);
    std::vector<TableStats> stats(table_count);
    if (plan.half_probability.size() == n &&
        segments_fit(plan.filter_segments, plan.filter_mapping, filter_count, geometry) &&
        segments_fit(table_segments, table_mapping, table_count, geometry)) {
        predictions = predict_all(plan, sound, geometry);
        for (unsigned c = 0; c < n; ++c) {
            SegmentWalk tables(table_segments, table_mapping, c, geometry);
            const std::size_t half_until =
                plan.half_probability[c] ? plan.filters[first_filter(plan, c)].coefficients.size()
                                         : 0;
            for (std::size_t i = half_until; i < geometry.bits_per_channel(); ++i) {
                const int predict = predictions[c][i];
                auto& t = stats[tables.at(i)];
                const std::size_t bucket = std::min<std::size_t>(
                    static_cast<std::size_t>(std::abs(predict)) >> 3, dst_max_table_length - 1);
                t.all[bucket] += 1;
                t.zeros[bucket] += sound_bit(sound, n, c, i) == (predict < 0) ? 1 : 0;
            }
        }
    }
    for (unsigned t = 0; t < table_count; ++t) {
        std::size_t length = options.table_length.value_or(best_length(stats[t]));
        if (draw && !options.table_length) {
            length =
                ffmpeg || !random.chance(1, 8) ? static_cast<std::size_t>(edgy(random, 2, 64)) : 1;
        }
        DstTable table;
        table.entries = estimate_entries(stats[t], length);
        if (draw && random.chance(1, 4)) {
            for (auto& e : table.entries) {
                e = random.between(1, 128);
            }
        }
        if (length == 1) {
            table.entries = {128};
        } else {
            table.coding = options.table_coding.value_or(
                draw ? random_coding(length, random) : best_coding(table.entries, entry_format));
        }
        plan.tables.push_back(table);
    }
    damage_tables(plan, options.damage);
    return plan;
}

Bytes write_frame(const DstFramePlan& plan, std::span<const std::uint8_t> sound,
                  const DstGeometry& geometry, DstDamage damage, DstFrameInfo* info,
                  const Predictions* known) {
    if (sound.size() != geometry.sound_bytes()) {
        throw std::invalid_argument("DST frame sound of the wrong size");
    }
    if (plan.stored) {
        if (info != nullptr) {
            *info = {8, 0, 0};
        }
        return write_stored(plan, sound, damage);
    }
    const unsigned n = geometry.channels;
    BitWriter out;
    out.put_bit(true);
    out.put_bit(plan.tables_same_segmentation);
    if (is_segmentation_damage(damage)) {
        write_damaged_segmentation(out, geometry, damage);
    } else {
        write_segmentation(out, plan.filter_segments, geometry, true);
    }
    if (!plan.tables_same_segmentation) {
        write_segmentation(out, plan.table_segments, geometry, false);
    }
    out.put_bit(plan.tables_same_mapping);
    write_mapping(out, plan.filter_mapping, geometry, damage == DstDamage::mapping_out_of_range);
    if (!plan.tables_same_mapping) {
        write_mapping(out, plan.table_mapping, geometry, false);
    }
    for (unsigned c = 0; c < n; ++c) {
        out.put_bit(plan.half_probability[c]);
    }
    for (std::size_t f = 0; f < plan.filters.size(); ++f) {
        const auto& filter = plan.filters[f];
        out.put(filter.coefficients.size() - 1, 7);
        write_values(out, filter.coefficients, filter.coding, coefficient_format,
                     f == 0 && damage == DstDamage::rice_method_3);
    }
    for (const auto& table : plan.tables) {
        out.put(table.entries.size() - 1, 6);
        if (table.entries.size() > 1) {
            write_values(out, table.entries, table.coding, entry_format);
        }
    }
    const std::uint64_t header_bits = out.size();

    out.put_bit(damage == DstDamage::coded_first_bit);
    ArithmeticEncoder coder;
    if (codable(plan, geometry)) {
        Predictions computed;
        if (known == nullptr) {
            computed = predict_all(plan, sound, geometry);
        }
        const Predictions& predictions = known != nullptr ? *known : computed;
        std::vector<SegmentWalk> table_walks;
        std::vector<std::size_t> half_until(n, 0);
        for (unsigned c = 0; c < n; ++c) {
            table_walks.emplace_back(plan.effective_table_segments(),
                                     plan.effective_table_mapping(), c, geometry);
            if (plan.half_probability[c]) {
                half_until[c] = plan.filters[first_filter(plan, c)].coefficients.size();
            }
        }
        coder.encode(plan.first_bit, reverse7(plan.filters[0].coefficients[0]) + 1);
        for (std::size_t i = 0; i < geometry.bits_per_channel(); ++i) {
            for (unsigned c = 0; c < n; ++c) {
                const int predict = predictions[c][i];
                const bool bit = sound_bit(sound, n, c, i);
                unsigned p = 128;
                if (i >= half_until[c]) {
                    const auto& entries = plan.tables[table_walks[c].at(i)].entries;
                    p = entries.size() == 1 ? 128
                                            : static_cast<unsigned>(entries[std::min<std::size_t>(
                                                  static_cast<std::size_t>(std::abs(predict)) >> 3,
                                                  entries.size() - 1)]);
                }
                coder.encode(bit != (predict < 0), p);
            }
        }
        coder.finish();
    }
    for (const auto b : coder.bits()) {
        out.put_bit(b != 0);
    }
    Bytes frame = out.take();
    switch (damage) {
        case DstDamage::header_cut:
            frame.resize(std::max<std::size_t>(1, header_bits / 16));
            break;
        case DstDamage::unused_bits:
            frame.resize(frame.size() + 4, 0);
            break;
        case DstDamage::coded_cut_short:
            frame.resize(std::min(frame.size(), (header_bits + 7) / 8 + 4));
            break;
        default:
            break;
    }
    if (info != nullptr) {
        *info = {header_bits, 8 * static_cast<std::uint64_t>(frame.size()) - header_bits,
                 13 + coder.shifts()};
    }
    return frame;
}

}  // namespace

}  // namespace dsd::testgen
