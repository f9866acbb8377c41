// Fuzzes a whole conversion: the DSF header reader, the tag finder and the
// DFF writer, on the input as a file (a memfd). Besides the sanitizers, the
// result is checked against what the input says it must be.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dsdiff.hpp"
#include "dsf.hpp"
#include "dsf_to_dff.hpp"
#include "id3_tag.hpp"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::uint64_t le(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = v << 8 | p[i];
    }
    return v;
}

std::uint8_t mirror(std::uint8_t x) {
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        r = static_cast<std::uint8_t>(r | ((x >> i & 1) << (7 - i)));
    }
    return r;
}

int fresh_memfd(const char* name) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    require(fd >= 0);
    return fd;
}

void reset(int fd, const std::uint8_t* data, std::size_t size) {
    require(::ftruncate(fd, 0) == 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        require(n > 0);
        done += static_cast<std::size_t>(n);
    }
    require(::lseek(fd, 0, SEEK_SET) == 0);
}

std::vector<std::uint8_t> contents(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    require(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int in = fresh_memfd("dsf");
    static const int out = fresh_memfd("dff");
    reset(in, data, size);
    reset(out, nullptr, 0);

    const dsd::DsfHeaderResult header = dsd::read_dsf_header(in);
    if (header.error != dsd::DsfHeaderError::none) {
        // Every field the reader failed on is one the input lacks or breaks.
        require(header.values_read < 4);
        if (header.error == dsd::DsfHeaderError::read_failed) {
            require(size < 92 && header.detail == size);
        }
        return 0;
    }
    require(size >= 92 && std::memcmp(data, "DSD ", 4) == 0 && le(data + 52, 4) == 2);
    const dsd::DsfStreamInfo& info = header.info;
    require(info.sampling_frequency == le(data + 56, 4) && info.sample_count == le(data + 64, 8));
    require(info.data_size == le(data + 84, 8) - 12);

    const auto tag = dsd::find_id3_tag(in, info.metadata_pointer);
    if (tag) {
        require(tag->offset == info.metadata_pointer && tag->length >= 10);
        require(tag->offset < size && tag->length <= size - tag->offset);
        require(std::memcmp(data + tag->offset, "ID3", 3) == 0);
    }

    const std::uint32_t rate = info.sampling_frequency ^ 0x5A5A5A5A;
    const dsd::WriteResult written = dsd::write_dff_stream(in, out, info, rate, tag);
    require(written.status != dsd::WriteStatus::write_failed);

    // Counted one index at a time from the block layout: index i counts while
    // the sample count asks for it and the right channel's byte at i (the
    // later of the two) lies inside the data chunk. Every byte counted must
    // be in the file, else the conversion is a read error at its end.
    const std::uint64_t sound = dsd::dff_sound_bytes(info);
    const std::uint64_t per_channel = sound / 2;
    std::uint64_t counted = 0;
    bool complete = true;
    for (;; ++counted) {
        const std::uint64_t right = 92 + counted / 4096 * 8192 + 4096 + counted % 4096;
        if (counted * 8 >= info.sample_count || right - 92 >= info.data_size) {
            break;
        }
        if (right >= size) {
            complete = false;
            break;
        }
    }
    if (!complete) {
        require(written.status == dsd::WriteStatus::read_failed);
        require(written.position == static_cast<std::int64_t>(size));
        return 0;
    }
    require(per_channel == counted);
    require(written.status == dsd::WriteStatus::ok);

    const std::vector<std::uint8_t> dff = contents(out);
    const std::uint64_t tag_length = tag ? tag->length : 0;
    const std::uint64_t tag_chunk = tag ? 12 + tag_length + (tag_length & 1) : 0;
    require(dff.size() == 130 + sound + tag_chunk);
    // The fixed header, with both sizes and the rate in place.
    auto head = dsd::DffHeaderTemplate;
    for (int i = 0; i < 8; ++i) {
        head[4 + i] = static_cast<std::uint8_t>((dff.size() - 12) >> (56 - 8 * i));
        head[122 + i] = static_cast<std::uint8_t>(sound >> (56 - 8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        head[60 + i] = static_cast<std::uint8_t>(rate >> (24 - 8 * i));
    }
    require(std::memcmp(dff.data(), head.data(), head.size()) == 0);
    const bool lsb_first = info.bits_per_sample == 1;
    for (std::uint64_t i = 0; i < per_channel; ++i) {
        const std::uint64_t at = 92 + i / 4096 * 8192 + i % 4096;
        const std::uint8_t l = lsb_first ? mirror(data[at]) : data[at];
        const std::uint8_t r = lsb_first ? mirror(data[at + 4096]) : data[at + 4096];
        require(dff[130 + 2 * i] == l && dff[131 + 2 * i] == r);
    }
    if (tag) {
        const std::uint8_t* chunk = dff.data() + 130 + sound;
        require(std::memcmp(chunk, "ID3 ", 4) == 0);
        require(std::memcmp(chunk + 12, data + tag->offset, tag_length) == 0);
        require(tag_length % 2 == 0 || chunk[12 + tag_length] == 0);
    }
    return 0;
}
