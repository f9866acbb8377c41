#include "rewrite.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "byte_order.hpp"
#include "byte_source.hpp"
#include "dsdiff.hpp"
#include "file_io.hpp"
#include "wav.hpp"

namespace dsd::rate {

namespace {

constexpr std::uint32_t wav_target_rate = 44100;

}  // namespace

namespace {

FieldChange no_change(RewriteOutcome outcome) {
    return FieldChange{.outcome = outcome};
}

}  // namespace

FieldChange change_field(std::uint64_t offset, std::span<const std::uint8_t> current,
                         std::span<const std::uint8_t> wanted) {
    if (std::ranges::equal(current, wanted)) {
        return no_change(RewriteOutcome::already_set);
    }
    FieldChange change{.outcome = RewriteOutcome::rewritten, .offset = offset};
    change.size = std::min(wanted.size(), change.bytes.size());
    std::copy_n(wanted.begin(), change.size, change.bytes.begin());
    return change;
}

RewriteOutcome apply_change(int fd, const FieldChange& change) {
    if (change.outcome != RewriteOutcome::rewritten) {
        return change.outcome;
    }
    if (!write_full_at(fd, std::span(change.bytes).first(change.size), change.offset) ||
        ::fsync(fd) != 0) {
        return RewriteOutcome::write_failed;
    }
    return RewriteOutcome::rewritten;
}

FieldChange dff_rate_change(int fd, std::uint32_t target_rate) {
    const auto size = file_size(fd);
    if (!size) {
        return no_change(RewriteOutcome::unreadable);
    }
    const DffRateField field = locate_dff_rate_field(file_source(fd, *size));
    switch (field.finding) {
        case DffFinding::found:
            break;
        case DffFinding::not_dff:
            return no_change(RewriteOutcome::not_dff);
        case DffFinding::dst_compressed:
            return no_change(RewriteOutcome::dst_compressed);
        case DffFinding::unreadable:
            return no_change(RewriteOutcome::unreadable);
    }
    std::array<std::uint8_t, 4> current{};
    std::array<std::uint8_t, 4> wanted{};
    store_be32(current, field.rate);
    store_be32(wanted, target_rate);
    return change_field(field.offset, current, wanted);
}

FieldChange wav_rate_change(int fd) {
    const auto size = file_size(fd);
    if (!size) {
        return no_change(RewriteOutcome::unreadable);
    }
    const WavFormatFields fmt = locate_wav_format(file_source(fd, *size));
    switch (fmt.finding) {
        case WavFinding::found:
            break;
        case WavFinding::not_wav:
            return no_change(RewriteOutcome::not_wav);
        case WavFinding::not_pcm:
            return no_change(RewriteOutcome::not_pcm);
        case WavFinding::unreadable:
            return no_change(RewriteOutcome::unreadable);
    }
    // At most 44100 x 65535, well inside 32 bits.
    const std::uint32_t byte_rate = wav_target_rate * std::uint32_t{fmt.block_align};
    std::array<std::uint8_t, 8> current{};
    std::array<std::uint8_t, 8> wanted{};
    store_le32(std::span(current).first(4), fmt.sample_rate);
    store_le32(std::span(current).subspan(4), fmt.byte_rate);
    store_le32(std::span(wanted).first(4), wav_target_rate);
    store_le32(std::span(wanted).subspan(4), byte_rate);
    return change_field(fmt.rate_offset, current, wanted);
}

RewriteOutcome rewrite_dff_rate(int fd, std::uint32_t target_rate) {
    return apply_change(fd, dff_rate_change(fd, target_rate));
}

RewriteOutcome rewrite_wav_rate(int fd) {
    return apply_change(fd, wav_rate_change(fd));
}

}  // namespace dsd::rate
