#include "dff_to_dsf.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "chunk_id.hpp"
#include "file_io.hpp"
#include "id3_tag.hpp"
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

DsfPlan unreadable(DsfPlan plan, std::uint64_t offset) {
    plan.walk.error = DffWalkError::unreadable;
    plan.walk.error_offset = offset;
    return refused(std::move(plan), DsfPlanError::walk);
}

// A text of the "DIIN" chunk as a tag's frame: up to its first NUL, as
// UTF-8 when it is that, else as ISO-8859-1, which is what such texts are
// when they are not ASCII.
void add_title_frame(std::vector<Id3TextFrame>& frames, std::string_view id,
                     const std::optional<std::string>& text) {
    if (!text) {
        return;
    }
    const std::string_view value = std::string_view(*text).substr(0, text->find('\0'));
    if (value.empty()) {
        return;
    }
    frames.push_back({std::string(id), std::string(value),
                      is_valid_utf8(value) ? Id3TextEncoding::utf8 : Id3TextEncoding::latin1});
}

// The title and artist as an ID3v2.4 tag; empty when there are none.
std::vector<std::uint8_t> titles_tag(const DffDiin& diin) {
    std::vector<Id3TextFrame> frames;
    add_title_frame(frames, "TIT2", diin.title);
    add_title_frame(frames, "TPE1", diin.artist);
    if (frames.empty()) {
        return {};
    }
    // Texts are far below the size a tag can hold.
    return make_id3v24_tag(frames).value_or(std::vector<std::uint8_t>{});
}

// Decoded DST sound straight into the blocks.
class BlockSink final : public dst::SoundSink {
  public:
    explicit BlockSink(DsfBlockWriter& blocks) : blocks_(blocks) {}
    bool take(std::span<const std::uint8_t> sound) override { return blocks_.add(sound); }

  private:
    DsfBlockWriter& blocks_;
};

// Sound frames moved per read and per write: whole groups of one block per
// channel, 256 KiB at most, as the forward conversion moves them.
constexpr std::size_t step_bytes = 64 * dsf_block_size;

}  // namespace

DsfPlan plan_dsf(const ByteSource& source) {
    DsfPlan plan;
    plan.walk = walk_dff(source);
    const DffWalk& walk = plan.walk;
    if (walk.error != DffWalkError::none) {
        return refused(plan, DsfPlanError::walk);
    }
    const SoundCoding coding = sound_coding(walk);
    if (coding == SoundCoding::other) {
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
    std::uint64_t per_channel = 0;
    if (coding == SoundCoding::dst) {
        plan.dst = check_dst_sound(source, walk);
        if (plan.dst->error != DstError::none) {
            return refused(plan, DsfPlanError::dst);
        }
        per_channel = plan.dst->sound.bytes_per_channel();
    } else {
        per_channel = walk.sound->size / walk.channel_count;
        // The sample count must fit its field; no file system holds a file
        // large enough to reach the limit.
        if (walk.sound->size % walk.channel_count != 0 ||
            per_channel > std::numeric_limits<std::uint64_t>::max() / 8) {
            return refused(plan, DsfPlanError::wrong_sound_size);
        }
    }
    plan.sound = *walk.sound;
    if (walk.id3) {
        std::array<std::uint8_t, 3> magic{};
        if (walk.id3->size >= magic.size()) {
            if (!source.read_exact(walk.id3->offset, magic)) {
                return unreadable(plan, walk.id3->offset);
            }
        }
        if (magic == std::array<std::uint8_t, 3>{'I', 'D', '3'}) {
            plan.tag = walk.id3;
        } else {
            plan.tag_skipped = true;
        }
    }
    if (!plan.tag && walk.diin) {
        const DffDiin diin = read_dff_diin(source, *walk.diin);
        // A break further on in the chunk costs only what lies past it.
        if (diin.error == DffWalkError::unreadable) {
            return unreadable(plan, diin.error_offset);
        }
        plan.titles_tag = titles_tag(diin);
    }
    plan.layout.channel_count = walk.channel_count;
    plan.layout.sampling_frequency = walk.rate;
    plan.layout.bytes_per_channel = per_channel;
    plan.layout.tag_length = plan.tag ? plan.tag->size : plan.titles_tag.size();
    return plan;
}

DsfBlockWriter::DsfBlockWriter(int out, const DsfPlan& plan)
    : out_(out),
      plan_(plan),
      channels_(plan.layout.channel_count),
      group_bytes_(dsf_block_size * channels_),
      groups_per_step_(step_bytes / group_bytes_),
      step_(std::make_unique<std::uint8_t[]>(step_bytes)) {}

std::size_t DsfBlockWriter::fill(std::span<const std::uint8_t> frames) {
    const std::size_t count = frames.size() / channels_;
    const std::span<std::uint8_t> step(step_.get(), step_bytes);
    std::array<std::span<std::uint8_t>, dsf_max_channels> blocks;
    std::size_t done = 0;
    while (done < count && filled_ < step_frames()) {
        const std::size_t at = filled_ % dsf_block_size;
        const std::size_t take = std::min<std::size_t>(count - done, dsf_block_size - at);
        const auto group = step.subspan(filled_ / dsf_block_size * group_bytes_, group_bytes_);
        for (std::size_t k = 0; k < channels_; ++k) {
            blocks[plan_.source_channel[k]] = group.subspan(k * dsf_block_size + at, take);
        }
        deinterleave_channels(frames.subspan(done * channels_, take * channels_),
                              std::span(blocks).first(channels_));
        done += take;
        filled_ += take;
    }
    return done * channels_;
}

bool DsfBlockWriter::add(std::span<const std::uint8_t> frames) {
    while (!frames.empty()) {
        frames = frames.subspan(fill(frames));
        if (filled_ == step_frames() && !write_step()) {
            return false;
        }
    }
    return true;
}

bool DsfBlockWriter::finish() {
    return filled_ == 0 || write_step();
}

bool DsfBlockWriter::write_step() {
    const std::span<std::uint8_t> step(step_.get(), step_bytes);
    const std::size_t groups = (filled_ + dsf_block_size - 1) / dsf_block_size;
    // Only the last block of a channel is short.
    if (const std::size_t at = filled_ % dsf_block_size; at != 0) {
        const auto group = step.subspan((groups - 1) * group_bytes_, group_bytes_);
        for (std::size_t k = 0; k < channels_; ++k) {
            const auto rest = group.subspan(k * dsf_block_size + at, dsf_block_size - at);
            std::fill(rest.begin(), rest.end(), 0);
        }
    }
    filled_ = 0;
    return write_full(out_, step.first(groups * group_bytes_));
}

WriteResult write_dsf_stream(int in, int out, const DsfPlan& plan, unsigned threads) {
    if (!write_full(out, make_dsf_header(plan.layout))) {
        return write_failure(out);
    }
    DsfBlockWriter blocks(out, plan);
    if (plan.dst) {
        BlockSink sink(blocks);
        const WriteResult decoded = decode_dst_sound(in, plan.dst->sound, sink, out, threads);
        if (decoded.status != WriteStatus::ok) {
            return decoded;
        }
    } else {
        const std::size_t channels = plan.layout.channel_count;
        const auto in_step = std::make_unique<std::uint8_t[]>(step_bytes);
        std::uint64_t offset = plan.sound.offset;
        for (std::uint64_t left = plan.layout.bytes_per_channel; left != 0;) {
            const std::size_t frames =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, blocks.step_frames()));
            const std::span<std::uint8_t> sound(in_step.get(), frames * channels);
            if (const std::size_t got = read_full_at(in, sound, offset); got != sound.size()) {
                return {WriteStatus::read_failed, static_cast<std::int64_t>(offset + got)};
            }
            if (!blocks.add(sound)) {
                return write_failure(out);
            }
            left -= frames;
            offset += frames * channels;
        }
    }
    if (!blocks.finish()) {
        return write_failure(out);
    }
    if (plan.tag) {
        const auto buffer = std::make_unique<std::array<std::uint8_t, 65536>>();
        return copy_range(in, plan.tag->offset, plan.tag->size, out, *buffer);
    }
    if (!plan.titles_tag.empty() && !write_full(out, plan.titles_tag)) {
        return write_failure(out);
    }
    return {};
}

}  // namespace dsd
