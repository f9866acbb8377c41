#include "dff_report.hpp"

namespace dsd {
namespace {

namespace text = convert_text;
namespace reverse = reverse_text;

}  // namespace

std::string quoted(std::span<const std::uint8_t> id) {
    std::string quoted_text(1, '\'');
    quoted_text.append(printable_bytes(id));
    quoted_text.push_back('\'');
    return quoted_text;
}

std::string quoted_at(std::span<const std::uint8_t> id, std::uint64_t offset) {
    return quoted(id) + " at " + std::to_string(offset);
}

void report_dst_error(const DstCheck& dst, const DffWalk& walk, const Say& say) {
    switch (dst.error) {
        case DstError::wrong_rate:
            say(text::wrong_rate, std::to_string(walk.rate));
            break;
        case DstError::walk:
            report_walk_error(dst.frames, say);
            break;
        case DstError::no_frame_table:
            say(reverse::missing_chunk, quoted(ChunkId{'F', 'R', 'T', 'E'}));
            break;
        case DstError::frame_count:
            say(reverse::frame_count_differs, "FRTE " + std::to_string(dst.frames.frame_count) +
                                                  ", file " + std::to_string(dst.frames.frames));
            break;
        case DstError::none:
            break;
    }
}

void report_plan_error(const DsfPlan& plan, const Say& say) {
    const DffWalk& walk = plan.walk;
    switch (plan.error) {
        case DsfPlanError::walk:
            report_walk_error(walk, say);
            break;
        case DsfPlanError::compressed:
            say(reverse::compressed, quoted(compression_type(walk)));
            break;
        case DsfPlanError::no_rate:
            say(reverse::missing_chunk, quoted(ChunkId{'F', 'S', ' ', ' '}));
            break;
        case DsfPlanError::no_channels:
            say(reverse::missing_chunk, quoted(ChunkId{'C', 'H', 'N', 'L'}));
            break;
        case DsfPlanError::no_sound:
            say(reverse::missing_chunk,
                quoted(sound_coding(walk) == SoundCoding::dst ? ChunkId{'D', 'S', 'T', ' '}
                                                              : ChunkId{'D', 'S', 'D', ' '}));
            break;
        case DsfPlanError::zero_rate:
            say(text::wrong_rate, std::to_string(walk.rate));
            break;
        case DsfPlanError::wrong_channels:
            say(text::wrong_channels, std::to_string(walk.channel_count));
            break;
        case DsfPlanError::wrong_layout: {
            std::string ids;
            for (std::size_t i = 0; i < walk.channel_count; ++i) {
                if (i != 0) {
                    ids += ' ';
                }
                ids.append(quoted(walk.channel_ids[i]));
            }
            say(reverse::wrong_layout, ids);
            break;
        }
        case DsfPlanError::wrong_sound_size:
            say(text::wrong_data_size, std::to_string(walk.sound->size));
            break;
        case DsfPlanError::dst:
            report_dst_error(*plan.dst, walk, say);
            break;
        case DsfPlanError::none:
            break;
    }
}

}  // namespace dsd
