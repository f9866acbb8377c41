// DSDIFF headers for tests, assembled chunk by chunk. Every size is computed
// from what was built unless a test overrides it to make a malformed file.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace dsd::testgen {

using Bytes = std::vector<std::uint8_t>;

// Appending fields to a body under construction.
void append(Bytes& out, std::string_view text);
void append(Bytes& out, const Bytes& bytes);
void append_be16(Bytes& out, std::uint16_t value);
void append_be32(Bytes& out, std::uint32_t value);
void append_be64(Bytes& out, std::uint64_t value);

// id, 64-bit big-endian size, body, and a pad byte after an odd body.
Bytes dff_chunk(std::string_view id, const Bytes& body,
                std::optional<std::uint64_t> declared_size = std::nullopt);

// "FRM8", its size, the form type, then the chunks.
Bytes dff_form(const std::vector<Bytes>& chunks,
               std::optional<std::uint64_t> declared_size = std::nullopt,
               std::string_view form_type = "DSD ");

// A "PROP" chunk of the given type holding the local chunks.
Bytes dff_prop(const std::vector<Bytes>& local_chunks, std::string_view prop_type = "SND ");

Bytes dff_fver();                                              // version 1.4.0.0
Bytes dff_fs(std::uint32_t rate);                              // "FS  ", size 4
Bytes dff_chnl_stereo();                                       // SLFT, SRGT
Bytes dff_chnl(const std::vector<std::string_view>& ids);      // ids padded to 4 with blanks
Bytes dff_cmpr(std::string_view type, std::string_view name);  // pascal string, padded

// The 130-byte header the converters write, for `sound_bytes` of sound data
// that the caller appends.
Bytes converter_dff_header(std::uint32_t rate, std::uint64_t sound_bytes);

// A whole file in that layout: the header and `sound` after it.
Bytes converter_dff_file(std::uint32_t rate, const Bytes& sound);

// An uncompressed file of the given channels: FVER, PROP (FS, CHNL, CMPR),
// the sound chunk, and when `tag` is given an "ID3 " chunk holding it,
// before the sound or after it.
Bytes dff_file(std::uint32_t rate, const std::vector<std::string_view>& ids, const Bytes& sound,
               const std::optional<Bytes>& tag = std::nullopt, bool tag_first = false);

// Bytes of a counting pattern, never all zero, as stand-in sound data.
Bytes pattern_bytes(std::size_t count, std::uint8_t seed = 1);

}  // namespace dsd::testgen
