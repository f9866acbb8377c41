#include "dff_to_dsf.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

#include "chunk_id.hpp"
#include "file_io.hpp"
#include "interleave.hpp"

namespace dsd {
namespace {

// The DSDIFF channel ids of each DSF channel type, in DSF channel order.
struct Layout {
    std::uint32_t dsf_type;
    std::array<std::string_view, dsf_max_channels> ids;  // then empty

    std::size_t count() const {
        return static_cast<std::size_t>(std::find(ids.begin(), ids.end(), std::string_view()) -
                                        ids.begin());
    }
};

constexpr std::array<Layout, 8> layouts{{
    {1, {"C   "}},
    {2, {"SLFT", "SRGT"}},
    {2, {"MLFT", "MRGT"}},
    {3, {"MLFT", "MRGT", "C   "}},
    {4, {"MLFT", "MRGT", "LS  ", "RS  "}},
    {5, {"MLFT", "MRGT", "C   ", "LFE "}},
    {6, {"MLFT", "MRGT", "C   ", "LS  ", "RS  "}},
    {7, {"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "}},
}};

// The layout whose ids the file lists, each once, in any order; fills in
// where each DSF channel stands in the file's frames.
bool match_layout(const DffWalk& walk, DsfPlan& plan) {
    const std::span<const ChunkId> listed(walk.channel_ids.data(), walk.channel_count);
    for (const Layout& layout : layouts) {
        if (layout.count() != listed.size()) {
            continue;
        }
        bool all_found = true;
        for (std::size_t k = 0; k < listed.size() && all_found; ++k) {
            const auto matches = [&](const ChunkId& id) { return has_id(id, layout.ids[k]); };
            const auto found = std::find_if(listed.begin(), listed.end(), matches);
            all_found =
                found != listed.end() && std::count_if(listed.begin(), listed.end(), matches) == 1;
            if (all_found) {
                plan.source_channel[k] = static_cast<std::size_t>(found - listed.begin());
            }
        }
        if (all_found) {
            plan.layout.channel_type = layout.dsf_type;
            return true;
        }
    }
    return false;
}

DsfPlan refused(DsfPlan plan, DsfPlanError error) {
    plan.error = error;
    return plan;
}

// Sound frames moved per read and per write: whole groups of one block per
// channel, 256 KiB at most, as the forward conversion moves them.
constexpr std::size_t step_bytes = 64 * dsf_block_size;

using Step = std::array<std::uint8_t, step_bytes>;

}  // namespace

DsfPlan plan_dsf(const ByteSource& source) {
    DsfPlan plan;
    plan.walk = walk_dff(source);
    const DffWalk& walk = plan.walk;
    if (walk.error != DffWalkError::none) {
        return refused(plan, DsfPlanError::walk);
    }
    if (walk.compressed()) {
        return refused(plan, DsfPlanError::compressed);
    }
    if (!walk.rate_offset) {
        return refused(plan, DsfPlanError::no_rate);
    }
    if (!walk.has_channels) {
        return refused(plan, DsfPlanError::no_channels);
    }
    if (!walk.sound) {
        return refused(plan, DsfPlanError::no_sound);
    }
    if (walk.rate == 0) {
        return refused(plan, DsfPlanError::zero_rate);
    }
    if (walk.channel_count < 1 || walk.channel_count > dsf_max_channels) {
        return refused(plan, DsfPlanError::wrong_channels);
    }
    if (!match_layout(walk, plan)) {
        return refused(plan, DsfPlanError::wrong_layout);
    }
    const std::uint64_t per_channel = walk.sound->size / walk.channel_count;
    // The sample count must fit its field; no file system holds a file
    // large enough to reach the limit.
    if (walk.sound->size % walk.channel_count != 0 ||
        per_channel > std::numeric_limits<std::uint64_t>::max() / 8) {
        return refused(plan, DsfPlanError::wrong_sound_size);
    }
    plan.sound = *walk.sound;
    if (walk.id3) {
        std::array<std::uint8_t, 3> magic{};
        if (walk.id3->size >= magic.size()) {
            if (!source.read_exact(walk.id3->offset, magic)) {
                plan.walk.error = DffWalkError::unreadable;
                plan.walk.error_offset = walk.id3->offset;
                return refused(plan, DsfPlanError::walk);
            }
        }
        if (magic == std::array<std::uint8_t, 3>{'I', 'D', '3'}) {
            plan.tag = walk.id3;
        } else {
            plan.tag_skipped = true;
        }
    }
    plan.layout.channel_count = walk.channel_count;
    plan.layout.sampling_frequency = walk.rate;
    plan.layout.bytes_per_channel = per_channel;
    plan.layout.tag_length = plan.tag ? plan.tag->size : 0;
    return plan;
}

WriteResult write_dsf_stream(int in, int out, const DsfPlan& plan) {
    if (!write_full(out, make_dsf_header(plan.layout))) {
        return write_failure(out);
    }
    const auto in_step = std::make_unique<Step>();
    const auto out_step = std::make_unique<Step>();
    const std::span<std::uint8_t> out_buffer(*out_step);
    const std::size_t channels = plan.layout.channel_count;
    const std::size_t group_bytes = dsf_block_size * channels;  // a block of each channel
    const std::size_t groups_per_step = step_bytes / group_bytes;

    std::uint64_t offset = plan.sound.offset;
    std::array<std::span<std::uint8_t>, dsf_max_channels> blocks;
    for (std::uint64_t left = plan.layout.bytes_per_channel; left != 0;) {
        const std::size_t frames = static_cast<std::size_t>(
            std::min<std::uint64_t>(left, groups_per_step * std::uint64_t{dsf_block_size}));
        const std::size_t groups = (frames + dsf_block_size - 1) / dsf_block_size;
        const auto sound = std::span(*in_step).first(frames * channels);
        if (const std::size_t got = read_full_at(in, sound, offset); got != sound.size()) {
            return {WriteStatus::read_failed, static_cast<std::int64_t>(offset + got)};
        }
        for (std::size_t g = 0; g < groups; ++g) {
            const std::size_t take =
                std::min<std::size_t>(frames - g * dsf_block_size, dsf_block_size);
            const auto group = out_buffer.subspan(g * group_bytes, group_bytes);
            for (std::size_t k = 0; k < channels; ++k) {
                const auto block = group.subspan(k * dsf_block_size, dsf_block_size);
                blocks[plan.source_channel[k]] = block.first(take);
                // Only the last block of a channel is short.
                std::fill(block.begin() + static_cast<std::ptrdiff_t>(take), block.end(), 0);
            }
            deinterleave_channels(sound.subspan(g * group_bytes, take * channels),
                                  std::span(blocks).first(channels));
        }
        if (!write_full(out, out_buffer.first(groups * group_bytes))) {
            return write_failure(out);
        }
        left -= frames;
        offset += frames * channels;
    }
    if (plan.tag) {
        return copy_range(in, plan.tag->offset, plan.tag->size, out, out_buffer);
    }
    return {};
}

}  // namespace dsd
