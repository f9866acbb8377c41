// How the tools that read DSDIFF files say why they refuse one: each
// refusal as one message text and its value, handed to the caller's way of
// printing it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "chunk_id.hpp"
#include "dff_to_dsf.hpp"
#include "dsdiff.hpp"
#include "dst_sound.hpp"
#include "message_format.hpp"
#include "messages.hpp"

namespace dsd {

using Say = std::function<void(std::string_view text, std::string_view value)>;

// An identifier in quotes, bytes that are not printable as \xNN; and with
// " at OFFSET" after it.
std::string quoted(std::span<const std::uint8_t> id);
std::string quoted_at(std::span<const std::uint8_t> id, std::uint64_t offset);

// The break in the layout a walk met: of the form, or of the chunks inside
// one of its chunks (DffWalk, DffDstWalk, DffDiin).
template <typename Walked>
void report_walk_error(const Walked& walk, const Say& say) {
    namespace text = convert_text;
    namespace reverse = reverse_text;
    // Only the bytes of the id the file has.
    const auto id = std::span(walk.error_id).first(std::min<std::size_t>(4, walk.error_id_length));
    switch (walk.error) {
        case DffWalkError::unreadable:
            say(text::read_error, std::to_string(walk.error_offset));
            break;
        case DffWalkError::not_dsdiff:
            say(reverse::not_dff, printable_bytes(id));
            break;
        case DffWalkError::past_end_of_file:
            say(reverse::past_end_of_file, quoted_at(id, walk.error_offset));
            break;
        case DffWalkError::past_parent:
            say(reverse::past_parent, quoted_at(id, walk.error_offset));
            break;
        case DffWalkError::second_chunk:
            say(reverse::second_chunk, quoted_at(id, walk.error_offset));
            break;
        case DffWalkError::wrong_chunk_size:
            say(reverse::wrong_chunk_size,
                quoted_at(id, walk.error_offset) + ", size " + std::to_string(walk.error_size));
            break;
        case DffWalkError::none:
            break;
    }
}

void report_dst_error(const DstCheck& dst, const DffWalk& walk, const Say& say);

// Why plan_dsf refused a file.
void report_plan_error(const DsfPlan& plan, const Say& say);

}  // namespace dsd
