#include <initializer_list>
#include <span>
#include <string_view>

#include "byte_order.hpp"
#include "dsdiff.hpp"

namespace dsd {
namespace {

constexpr std::array<std::uint8_t, dff_header_size> build_template() {
    std::array<std::uint8_t, dff_header_size> h{};
    std::size_t at = 0;
    const auto id = [&](const char* text) {
        for (std::size_t i = 0; i < 4; ++i) {
            h[at++] = static_cast<std::uint8_t>(text[i]);
        }
    };
    const auto size = [&](std::uint64_t v) {
        for (std::size_t i = 0; i < 8; ++i) {
            h[at++] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
        }
    };
    const auto bytes = [&](std::initializer_list<std::uint8_t> list) {
        for (const auto b : list) {
            h[at++] = b;
        }
    };
    id("FRM8");
    size(0);
    id("DSD ");
    id("FVER");
    size(4);
    bytes({1, 4, 0, 0});
    id("PROP");
    size(74);
    id("SND ");
    id("FS  ");
    size(4);
    bytes({0, 0, 0, 0});
    id("CHNL");
    size(10);
    bytes({0, 2});
    id("SLFT");
    id("SRGT");
    id("CMPR");
    size(20);
    id("DSD ");
    bytes({14});
    for (const char c : std::string_view("not compressed")) {
        h[at++] = static_cast<std::uint8_t>(c);
    }
    bytes({0});
    id("DSD ");
    size(0);
    return h;
}

constexpr std::size_t form_size_offset = 4;
constexpr std::size_t sound_size_offset = 122;

}  // namespace

const std::array<std::uint8_t, dff_header_size> DffHeaderTemplate = build_template();

std::array<std::uint8_t, dff_header_size> make_dff_header(std::uint32_t rate,
                                                          std::uint64_t sound_bytes,
                                                          std::uint64_t tag_length) {
    auto header = DffHeaderTemplate;
    const std::span<std::uint8_t> h(header);
    const std::uint64_t tag_chunk = tag_length != 0 ? 12 + tag_length + (tag_length & 1) : 0;
    store_be64(h.subspan(form_size_offset), dff_header_size - 12 + sound_bytes + tag_chunk);
    store_be32(h.subspan(dff_rate_offset), rate);
    store_be64(h.subspan(sound_size_offset), sound_bytes);
    return header;
}

}  // namespace dsd
