// Unit tests of the header reader, the tag finder and the DFF writer, on
// files made by the generator.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "byte_source.hpp"
#include "dff_builder.hpp"
#include "dff_expect.hpp"
#include "dff_to_dsf.hpp"
#include "dsdiff.hpp"
#include "dsf.hpp"
#include "dsf_expect.hpp"
#include "dsf_generator.hpp"
#include "dsf_to_dff.hpp"
#include "file_io.hpp"
#include "id3_tag.hpp"
#include "interleave.hpp"
#include "test_support.hpp"

namespace dsd {
namespace {

using test::Bytes;

// Writes `bytes` to a scratch file and keeps it open for reading.
class OpenFile {
  public:
    explicit OpenFile(const Bytes& bytes) : path_(dir_ / "f.dsf") {
        test::write_file(path_, bytes);
        file_ = *open_for_reading(path_);
    }
    int fd() const { return file_.get(); }

  private:
    test::TempDir dir_;
    std::string path_;
    FileHandle file_;
};

Bytes sample_dsf(std::uint64_t samples, std::uint32_t bits = 1) {
    testgen::DsfSpec spec;
    spec.sample_count = samples;
    spec.bits_per_sample = bits;
    return testgen::make_dsf(spec);
}

TEST(DsfHeader, ReadsTheFieldsOfAValidFile) {
    Bytes dsf = sample_dsf(100000);
    test::put_le(dsf, 64, 0x100000005ull, 8);  // a count beyond 32 bits
    OpenFile file(dsf);
    const auto header = read_dsf_header(file.fd());
    ASSERT_EQ(header.error, DsfHeaderError::none);
    EXPECT_EQ(header.values_read, 4);
    EXPECT_EQ(header.info.sampling_frequency, 2822400u);
    EXPECT_EQ(header.info.bits_per_sample, 1u);
    EXPECT_EQ(header.info.sample_count, 0x100000005ull);
    EXPECT_EQ(header.info.data_size, 4u * 8192);
    EXPECT_EQ(header.info.metadata_pointer, 0u);
}

TEST(DsfHeader, DataChunkSizeIsReadInFull) {
    Bytes dsf = sample_dsf(8);
    test::put_le(dsf, 84, 0x1000000000ull + 12, 8);
    OpenFile file(dsf);
    EXPECT_EQ(read_dsf_header(file.fd()).info.data_size, 0x1000000000ull);
}

TEST(DsfHeader, RejectsWhatCannotBeConverted) {
    struct Case {
        std::size_t at;
        std::uint64_t value;
        int width;
        DsfHeaderError error;
        std::uint64_t detail;
        int values_read;
    };
    const Case cases[] = {
        {52, 1, 4, DsfHeaderError::wrong_channels, 1, 0},
        {52, 6, 4, DsfHeaderError::wrong_channels, 6, 0},
        {72, 2048, 4, DsfHeaderError::wrong_block_size, 2048, 3},
        {84, 11, 8, DsfHeaderError::wrong_data_size, 11, 3},
        {84, 0, 8, DsfHeaderError::wrong_data_size, 0, 3},
    };
    for (const auto& c : cases) {
        Bytes dsf = sample_dsf(64);
        test::put_le(dsf, c.at, c.value, c.width);
        OpenFile file(dsf);
        const auto header = read_dsf_header(file.fd());
        EXPECT_EQ(header.error, c.error) << c.at;
        EXPECT_EQ(header.detail, c.detail) << c.at;
        EXPECT_EQ(header.values_read, c.values_read) << c.at;
    }
}

TEST(DsfHeader, NotDsfShowsTheIdentifierUpToAZeroByte) {
    OpenFile riff(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0});
    auto header = read_dsf_header(riff.fd());
    EXPECT_EQ(header.error, DsfHeaderError::not_dsf);
    EXPECT_EQ(header.identifier, "RIFF");
    OpenFile zero(Bytes{'D', 0, 'D', ' '});
    header = read_dsf_header(zero.fd());
    EXPECT_EQ(header.error, DsfHeaderError::not_dsf);
    EXPECT_EQ(header.identifier, "D");
}

TEST(DsfHeader, EveryTruncationIsAReadErrorAtTheFirstMissingField) {
    const Bytes full = sample_dsf(64);
    // Field starts in reading order; a file ending before a field fails
    // there, one ending inside it fails at its own end.
    const std::pair<std::size_t, std::size_t> fields[] = {{0, 4},  {52, 4}, {56, 4}, {60, 4},
                                                          {64, 8}, {72, 4}, {84, 8}};
    for (std::size_t length = 0; length < 92; ++length) {
        OpenFile file(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)));
        const auto header = read_dsf_header(file.fd());
        ASSERT_EQ(header.error, DsfHeaderError::read_failed) << length;
        std::size_t expected = 0;
        for (const auto& [offset, size] : fields) {
            if (length < offset + size) {
                expected = std::max(offset, length);
                break;
            }
        }
        EXPECT_EQ(header.detail, expected) << length;
    }
}

TEST(Id3Tag, FoundOnlyWhenWholeAndValid) {
    testgen::DsfSpec spec;
    spec.sample_count = 64;
    spec.id3_tag = testgen::make_id3v2_tag("Title", 4, 101, true);
    const Bytes tagged = testgen::make_dsf(spec);
    const std::uint64_t pointer = test::le(tagged, 20, 8);
    {
        OpenFile file(tagged);
        const auto tag = find_id3_tag(file.fd(), pointer);
        ASSERT_TRUE(tag);
        EXPECT_EQ(tag->offset, pointer);
        EXPECT_EQ(tag->length, 101u);
        EXPECT_FALSE(find_id3_tag(file.fd(), 0));
        EXPECT_FALSE(find_id3_tag(file.fd(), tagged.size()));
        EXPECT_FALSE(find_id3_tag(file.fd(), ~0ull));
        EXPECT_FALSE(find_id3_tag(file.fd(), 92));  // sound, not a tag
    }
    {
        OpenFile cut(Bytes(tagged.begin(), tagged.end() - 1));
        EXPECT_FALSE(find_id3_tag(cut.fd(), pointer));
    }
    for (const auto& [at, value] : {std::pair<std::size_t, std::uint8_t>{3, 5},  // version
                                    {3, 1},
                                    {6, 0x80}}) {  // not syncsafe
        Bytes bad = tagged;
        bad[pointer + at] = value;
        OpenFile file(bad);
        EXPECT_FALSE(find_id3_tag(file.fd(), pointer)) << at;
    }
}

TEST(DffWriter, HeaderMatchesTheLayoutByteForByte) {
    const Bytes dsf = sample_dsf(0);
    const Bytes expected = test::expected_dff(dsf, 2822400);
    const auto header = make_dff_header(2822400, 0, 0);
    EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
    EXPECT_EQ(test::le(Bytes(header.begin() + 4, header.begin() + 12), 0, 1), 0u);
}

TEST(DffWriter, SoundBytesComeFromTheSampleCount) {
    DsfStreamInfo info;
    info.data_size = 3 * 8192;
    for (const auto& [samples, bytes] : {std::pair<std::uint64_t, std::uint64_t>{0, 0},
                                         {1, 2},
                                         {8, 2},
                                         {9, 4},
                                         {4096 * 8, 8192},
                                         {4096 * 8 + 1, 8194},
                                         {3 * 4096 * 8, 3 * 8192},
                                         {10 * 4096 * 8, 3 * 8192}}) {  // the chunk holds less
        info.sample_count = samples;
        EXPECT_EQ(dff_sound_bytes(info), bytes) << samples;
    }
}

TEST(DffWriter, EachChannelOnlyFromItsBlocksInsideTheChunk) {
    DsfStreamInfo info;
    info.sample_count = 10 * 4096 * 8;
    // Two pairs and 88 bytes: those belong to the left block of the third pair.
    for (const auto& [data, per_channel] : {std::pair<std::uint64_t, std::uint64_t>{8280, 4096},
                                            {8192 + 4096, 4096},
                                            {8192 + 4096 + 1, 4097},
                                            {8192 + 8191, 8191},
                                            {100, 0}}) {
        info.data_size = data;
        EXPECT_EQ(dff_sound_bytes(info), 2 * per_channel) << data;
    }
}

TEST(DffWriter, InterleavesAndReversesBits) {
    const Bytes left{0x01, 0x69, 0x00, 0xFF};
    const Bytes right{0x00, 0x0F, 0x00, 0x80};
    Bytes out(8);
    interleave_channels(left, right, out, true);
    EXPECT_EQ(out, (Bytes{0x80, 0x00, 0x96, 0xF0, 0x00, 0x00, 0xFF, 0x01}));
    interleave_channels(left, right, out, false);
    EXPECT_EQ(out, (Bytes{0x01, 0x00, 0x69, 0x0F, 0x00, 0x00, 0xFF, 0x80}));
}

// Over more block pairs than one read holds.
TEST(DffWriter, WritesTheWholeFile) {
    for (const std::uint32_t bits : {1u, 8u}) {
        const Bytes dsf = sample_dsf(40 * 4096 * 8 + 13, bits);
        OpenFile in(dsf);
        test::TempDir dir;
        FileHandle out(::open((dir / "o.dff").c_str(), O_WRONLY | O_CREAT, 0644));
        const auto header = read_dsf_header(in.fd());
        const auto result = write_dff_stream(in.fd(), out.get(), header.info, 5644800, {});
        EXPECT_EQ(result.status, WriteStatus::ok);
        EXPECT_EQ(test::read_file(dir / "o.dff"), test::expected_dff(dsf, 5644800)) << bits;
    }
}

TEST(DffWriter, ReportsWhereATruncatedInputEnds) {
    Bytes dsf = sample_dsf(40 * 4096 * 8);
    for (const std::size_t length : {92u + 8192u + 100u, 92u + 35u * 8192u + 1u}) {
        OpenFile in(Bytes(dsf.begin(), dsf.begin() + static_cast<std::ptrdiff_t>(length)));
        test::TempDir dir;
        FileHandle out(::open((dir / "o.dff").c_str(), O_WRONLY | O_CREAT, 0644));
        const auto header = read_dsf_header(in.fd());
        const auto result = write_dff_stream(in.fd(), out.get(), header.info, 1, {});
        EXPECT_EQ(result.status, WriteStatus::read_failed);
        EXPECT_EQ(result.position, static_cast<std::int64_t>(length));
    }
}

// The reverse loop, for channel counts whose groups do not divide a read
// evenly.
TEST(DsfWriter, WritesTheWholeFile) {
    for (const auto& [type, ids] :
         {std::pair<std::uint32_t, std::vector<std::string_view>>{2, {"SLFT", "SRGT"}},
          {7, {"MLFT", "MRGT", "C", "LFE", "LS", "RS"}},
          {3, {"MLFT", "MRGT", "C"}}}) {
        const Bytes sound = testgen::pattern_bytes(ids.size() * (70 * 4096 + 7));
        const Bytes dff = testgen::dff_file(2822400, ids, sound);
        test::Channels channels(ids.size());
        for (std::size_t i = 0; i < sound.size(); ++i) {
            channels[i % ids.size()].push_back(sound[i]);
        }
        OpenFile in(dff);
        const DsfPlan plan = plan_dsf(file_source(in.fd(), dff.size()));
        ASSERT_EQ(plan.error, DsfPlanError::none);
        test::TempDir dir;
        FileHandle out(::open((dir / "o.dsf").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        EXPECT_EQ(write_dsf_stream(in.fd(), out.get(), plan).status, WriteStatus::ok);
        EXPECT_EQ(test::read_file(dir / "o.dsf"), test::expected_dsf(2822400, type, channels))
            << ids.size();
    }
}

}  // namespace
}  // namespace dsd
