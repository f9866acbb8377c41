// Fuzzes the DFF chunk walk and the rate rewrite built on it: whatever the
// input, the walk ends, a rate field it finds is a real "FS  " value inside
// a "FRM8"/"DSD " file, and the rewrite changes those four bytes or nothing.
// The walks inside a "DST " and a "DIIN" chunk end too, the frames read are
// the frames counted, none longer than asked, and texts stay in bounds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "dsdiff.hpp"
#include "rewrite.hpp"
#include "rewrite_check.hpp"

using namespace dsd::fuzz;

namespace {

std::uint64_t be(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        v = v << 8 | p[i];
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using dsd::DffFinding;
    using dsd::rate::RewriteOutcome;
    const auto field =
        dsd::locate_dff_rate_field(dsd::memory_source(std::span<const std::uint8_t>(data, size)));
    require(field.finding != DffFinding::unreadable);
    if (field.finding == DffFinding::found) {
        require(size >= 16 && std::memcmp(data, "FRM8", 4) == 0);
        require(std::memcmp(data + 12, "DSD ", 4) == 0);
        require(field.offset >= 28 && field.offset + 4 <= size);
        require(std::memcmp(data + field.offset - 12, "FS  ", 4) == 0);
        require(be(data + field.offset - 8, 8) == 4);
        require(field.rate == be(data + field.offset, 4));
    }

    const auto source = dsd::memory_source(std::span<const std::uint8_t>(data, size));
    const dsd::DffWalk walk = dsd::walk_dff(source);
    if (walk.sound && walk.sound_is_dst) {
        const dsd::DffDstWalk dst = dsd::walk_dff_dst(source, *walk.sound);
        require(dst.error != dsd::DffWalkError::unreadable);
        if (dst.error == dsd::DffWalkError::none) {
            constexpr std::uint64_t max_frame = 64;
            dsd::DffDstFrameReader reader(source, *walk.sound);
            std::vector<std::uint8_t> frame;
            std::uint64_t frames = 0;
            while (reader.next(frame, max_frame) == dsd::DffDstFrameReader::Next::frame) {
                require(frame.size() <= max_frame);
                ++frames;
            }
            require(frames == dst.frames);
        }
    }
    if (walk.diin) {
        const dsd::DffDiin diin = dsd::read_dff_diin(source, *walk.diin);
        require(diin.error != dsd::DffWalkError::unreadable);
        for (const auto& text : {diin.artist, diin.title}) {
            require(!text || text->size() <= std::min<std::uint64_t>(dsd::dff_max_text_length,
                                                                     walk.diin->size));
        }
    }

    // The same walk on the input as a file, then the rewrite.
    constexpr std::uint32_t target = 5644800;
    const int fd = file_with(data, size);
    const RewriteOutcome outcome = dsd::rate::rewrite_dff_rate(fd, target);
    switch (field.finding) {
        case DffFinding::found:
            require(outcome == (field.rate == target ? RewriteOutcome::already_set
                                                     : RewriteOutcome::rewritten));
            require_only_field_changed(data, size, fd, field.offset, {0x00, 0x56, 0x22, 0x00});
            break;
        case DffFinding::not_dff:
            require(outcome == RewriteOutcome::not_dff);
            require_unchanged(data, size, fd);
            break;
        case DffFinding::dst_compressed:
            require(outcome == RewriteOutcome::dst_compressed);
            require_unchanged(data, size, fd);
            break;
        case DffFinding::unreadable:
            break;
    }
    return 0;
}
