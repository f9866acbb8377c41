#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "byte_order.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "test_support.hpp"

namespace dsd {
namespace {

TEST(FileName, ExtensionIsTextAfterLastDot) {
    EXPECT_EQ(file_extension_of("a.b.dsf"), "dsf");
    EXPECT_EQ(file_extension_of("music."), "");
    EXPECT_EQ(file_extension_of("dir.old/music"), "old/music");
    EXPECT_EQ(file_extension_of(".wav"), "wav");
    EXPECT_EQ(file_extension_of("music"), std::nullopt);
    EXPECT_EQ(file_extension_of(""), std::nullopt);
}

TEST(FileName, StemKeepsTheLastDot) {
    EXPECT_EQ(file_stem_with_dot("a.b.DSF"), "a.b.");
    EXPECT_EQ(file_stem_with_dot("take1.dsf"), "take1.");
    EXPECT_EQ(file_stem_with_dot("music"), std::nullopt);
}

TEST(FileName, OnlyTheTwoExactFormsMatch) {
    EXPECT_EQ(check_file_name("x.dsf", "dsf", "DSF"), NameCheck::ok);
    EXPECT_EQ(check_file_name("x.DSF", "dsf", "DSF"), NameCheck::ok);
    EXPECT_EQ(check_file_name("x.Dsf", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("x.dsf ", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("x.dsff", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("music.", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("music", "dsf", "DSF"), NameCheck::no_dot);
    EXPECT_EQ(check_file_name("", "dsf", "DSF"), NameCheck::no_dot);
}

TEST(FileName, NamesOfAnyLength) {
    const std::string stem(5000, 'n');
    EXPECT_EQ(file_stem_with_dot(stem + ".dsf"), stem + ".");
    EXPECT_EQ(file_extension_of("x." + std::string(300, 'e')), std::string(300, 'e'));
}

TEST(ByteOrder, RoundTripsBothOrders) {
    std::array<std::uint8_t, 8> b{};
    store_be32(b, 2822400);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x2B);
    EXPECT_EQ(b[2], 0x11);
    EXPECT_EQ(b[3], 0x00);
    EXPECT_EQ(load_be32(b), 2822400u);
    store_be64(b, 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[7], 0x08);
    EXPECT_EQ(load_be64(b), 0x0102030405060708ull);
    store_le64(b, 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x08);
    EXPECT_EQ(load_le64(b), 0x0102030405060708ull);
    EXPECT_EQ(load_le32(b), 0x05060708u);
    EXPECT_EQ(load_le16(b), 0x0708u);
}

TEST(StagedOutput, AppearsOnlyOnCommit) {
    test::TempDir dir;
    const std::string target = dir / "out.dff";
    test::write_file(target, {1, 2, 3});
    {
        auto staged = StagedOutput::create(target);
        ASSERT_TRUE(staged);
        const std::array<std::uint8_t, 2> data{9, 9};
        ASSERT_TRUE(write_full(staged->fd(), data));
        EXPECT_EQ(test::read_file(target), (test::Bytes{1, 2, 3}));
        // Unnamed where the file system allows it, else one hidden name.
        EXPECT_LE(dir.entries().size(), 2u);
    }
    // Dropped without commit: the old file stays and nothing else is left.
    EXPECT_EQ(test::read_file(target), (test::Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.dff"});

    auto staged = StagedOutput::create(target);
    ASSERT_TRUE(staged);
    const std::array<std::uint8_t, 2> data{7, 8};
    ASSERT_TRUE(write_full(staged->fd(), data));
    ASSERT_EQ(staged->commit(), StagedOutput::Commit::done);
    EXPECT_EQ(test::read_file(target), (test::Bytes{7, 8}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.dff"});
}

TEST(StagedOutput, RefusesDirectoriesAndMissingFolders) {
    test::TempDir dir;
    EXPECT_FALSE(StagedOutput::create(dir.path()));
    EXPECT_FALSE(StagedOutput::create(dir / "missing/out.dff"));
}

}  // namespace
}  // namespace dsd
