#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "kavutil/kavfile.h"
#include "kavutil/kavnames.h"
#include "support/temp_dir.h"

using Bytes = std::vector<uint8_t>;

namespace {

class KavFileTest : public ::testing::Test {
 protected:
  std::string path(const char *n) const { return tmp_.file(n); }
  KAVFile *create(const char *n, int32_t buffer = 64) {
    KAVFile *f = KAVFileCreate(buffer, path(n).c_str());
    EXPECT_NE(f, nullptr);
    return f;
  }
  KAVFile *open(const char *n, int32_t buffer = 64, int32_t access = KAV_FILE_READ) {
    KAVFile *f = KAVFileOpen(buffer, path(n).c_str(), access);
    EXPECT_NE(f, nullptr);
    return f;
  }
  void write(const char *n, const Bytes &b) { kavtest::writeFile(path(n), b); }
  Bytes read(const char *n) { return kavtest::readFile(path(n)); }

  kavtest::TempDir tmp_;
};

}  // namespace

TEST_F(KavFileTest, OpenRefusesBadCodesMissingFilesDirectoriesAndLongNames) {
  write("a", {1});
  EXPECT_EQ(KAVFileOpen(64, path("a").c_str(), 252), nullptr);
  EXPECT_EQ(KAVFileOpen(64, path("missing").c_str(), KAV_FILE_READ), nullptr);
  EXPECT_EQ(KAVFileOpen(64, tmp_.path().c_str(), KAV_FILE_READ), nullptr);
  EXPECT_EQ(KAVFileOpen(64, nullptr, KAV_FILE_READ), nullptr);
  EXPECT_EQ(KAVFileCreate(64, tmp_.path().c_str()), nullptr);
  const std::string longName = tmp_.path() + "/" + std::string(KAV_NAME_MAX, 'x');
  EXPECT_EQ(KAVFileCreate(64, longName.c_str()), nullptr);
  KAVFile *f = open("a");
  char name[KAV_NAME_MAX];
  EXPECT_STREQ(KAVFileGetName(f, name), path("a").c_str());
  EXPECT_STREQ(name, path("a").c_str());
  KAVFileClose(f);
}

TEST_F(KavFileTest, NullHandleIsAClosedHandle) {
  EXPECT_EQ(KAVFileGetPos(nullptr), 0u);
  EXPECT_EQ(KAVFileSize(nullptr), 0u);
  EXPECT_EQ(KAVFileAtEnd(nullptr), 1);
  EXPECT_EQ(KAVFileGetBits(nullptr, 5), 0u);
  EXPECT_EQ(KAVFileGetName(nullptr, nullptr), nullptr);
  EXPECT_EQ(KAVFileGetTime(nullptr), 0u);
  KAVFilePutBits(nullptr, 1, 1);
  KAVFileClose(nullptr);
}

TEST_F(KavFileTest, BitsAreLeastSignificantFirst) {
  KAVFile *f = create("bits");
  KAVFilePutBits(f, 1, 1);
  KAVFilePutBits(f, 0, 1);
  KAVFilePutBits(f, 1, 1);
  KAVFileByteAlign(f);
  KAVFilePutBits(f, 0x3FF, 10);
  KAVFilePutBits(f, 0, 6);
  KAVFileClose(f);
  EXPECT_EQ(read("bits"), (Bytes{0x05, 0xFF, 0x03}));

  f = open("bits");
  EXPECT_EQ(KAVFileGetBits(f, 0), 0u);  // moves nothing
  EXPECT_EQ(KAVFileGetPos(f), 0u);
  EXPECT_EQ(KAVFileGetBits(f, 33), 1u);  // 33 counts as 1
  EXPECT_EQ(KAVFileGetBits(f, 7), 0x02u);
  EXPECT_EQ(KAVFileGetBits(f, 10), 0x3FFu);
  EXPECT_EQ(KAVFileGetBits(f, 6), 0u);
  EXPECT_EQ(KAVFileAtEnd(f), 1);
  KAVFileClose(f);
}

TEST_F(KavFileTest, ByteReadsContinueTheBitStream) {
  write("nib", {0xA5, 0x3C, 0x81, 0x7E, 0x42});
  KAVFile *f = open("nib");
  EXPECT_EQ(KAVFileGetBits(f, 4), 0x5u);
  EXPECT_EQ(KAVFileGet8(f), 0xCAu);  // high nibble of byte 0 low, low nibble of byte 1 high
  EXPECT_EQ(KAVFileGetPos(f), 1u);
  EXPECT_EQ(KAVFileBitPos(f), 4u);
  EXPECT_EQ(KAVFileGet16(f), 0xE813u);
  uint8_t two[2] = {0, 0x99};
  EXPECT_EQ(KAVFileGet(f, two, 2), 1u);  // only the bytes actually there are shifted
  EXPECT_EQ(two[0], 0x27);
  EXPECT_EQ(two[1], 0x99);
  EXPECT_EQ(KAVFileGetBits(f, 4), 0x4u);  // the rest of the last byte is still there
  EXPECT_EQ(KAVFileGet(f, two, 2), 0u);
  KAVFileClose(f);
}

TEST_F(KavFileTest, ByteWritesContinueTheBitStream) {
  KAVFile *f = create("wnib", 0);  // unbuffered: the slow paths
  KAVFilePutBits(f, 0x5, 4);
  KAVFilePut8(f, 0xCA);
  KAVFilePut16(f, 0xE813);
  KAVFilePutBits(f, 0x7, 4);
  EXPECT_EQ(KAVFileGetPos(f), 4u);
  KAVFileClose(f);
  EXPECT_EQ(read("wnib"), (Bytes{0xA5, 0x3C, 0x81, 0x7E}));
}

TEST_F(KavFileTest, ReadingPastTheEndGivesZerosAndStaysAtTheEnd) {
  write("short", {0xFF});
  KAVFile *f = open("short");
  EXPECT_EQ(KAVFileGetBits(f, 12), 0xFFu);
  EXPECT_EQ(KAVFileAtEnd(f), 1);
  EXPECT_EQ(KAVFileGetPos(f), 1u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(KAVFileGetBits(f, 3), 0u);
  EXPECT_EQ(KAVFileGetPos(f), 1u);  // a reader looping until the end always gets there
  EXPECT_EQ(KAVFileAtEnd(f), 1);
  EXPECT_EQ(KAVFileGet32(f), 0u);
  KAVFileClose(f);
}

TEST_F(KavFileTest, AlignPadsPastTheEndOrSeeksInside) {
  write("six", {1, 2, 3, 4, 5, 6});
  KAVFile *f = open("six", 64, KAV_FILE_READWRITE);
  KAVFileSetPos(f, 5);
  KAVFileAlign(f, 4);
  EXPECT_EQ(KAVFileGetPos(f), 8u);
  KAVFileSetPos(f, 1);
  KAVFileAlign(f, 4);  // inside the file: a seek, no writing
  EXPECT_EQ(KAVFileGetPos(f), 4u);
  KAVFileAlign(f, 4);
  EXPECT_EQ(KAVFileGetPos(f), 4u);
  KAVFileAlign(f, 0);  // no multiple: nothing to do, no division by zero
  KAVFileClose(f);
  EXPECT_EQ(read("six"), (Bytes{1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST_F(KavFileTest, LinesComeWithoutTheirEndsAndInPieces) {
  write("lines", {'a', 'b', '\r', '\n', 'c', 'd'});
  char buf[16];
  KAVFile *f = open("lines", 4);
  EXPECT_STREQ(KAVFileGetLine(f, buf, sizeof buf), "ab");
  EXPECT_STREQ(KAVFileGetLine(f, buf, sizeof buf), "cd");
  EXPECT_STREQ(KAVFileGetLine(f, buf, sizeof buf), "");
  KAVFileSetPos(f, 0);
  std::vector<std::string> pieces;
  for (int i = 0; i < 6; ++i) pieces.push_back(KAVFileGetLine(f, buf, 2));
  EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b", "", "", "c", "d"}));
  std::memset(buf, 'x', sizeof buf);
  KAVFileGetLine(f, buf, 1);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], 'x');
  KAVFileClose(f);
}

TEST_F(KavFileTest, SizeFollowsAppendsAndSeeksBack) {
  KAVFile *f = create("grow", 16);
  for (uint32_t i = 0; i < 100; ++i) {
    KAVFilePut8(f, i);
    ASSERT_EQ(KAVFileSize(f), i + 1);
  }
  KAVFileSetPos(f, 10);
  EXPECT_EQ(KAVFileSize(f), 100u);
  EXPECT_EQ(KAVFileAtEnd(f), 0);
  EXPECT_EQ(KAVFileGet8(f), 10u);  // switch to reading at the same place
  KAVFilePut8(f, 0xEE);            // and back to writing
  KAVFileSetPos(f, 100);
  EXPECT_EQ(KAVFileAtEnd(f), 1);
  KAVFileClose(f);
  Bytes b = read("grow");
  ASSERT_EQ(b.size(), 100u);
  EXPECT_EQ(b[10], 10);
  EXPECT_EQ(b[11], 0xEE);
  EXPECT_EQ(b[12], 12);
}

TEST_F(KavFileTest, SeeksInsideTheBufferStayThereAndOthersDropIt) {
  Bytes data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  write("seek", data);
  KAVFile *f = open("seek", 100);
  EXPECT_EQ(KAVFileIsInBuffer(f, 0), 0);  // nothing read yet
  EXPECT_EQ(KAVFileGet8(f), data[0]);
  EXPECT_EQ(KAVFileIsInBuffer(f, 0), 1);
  EXPECT_EQ(KAVFileIsInBuffer(f, 99), 1);
  EXPECT_EQ(KAVFileIsInBuffer(f, 100), 0);
  EXPECT_EQ(KAVFileSetPos(f, 50), 1u);
  EXPECT_EQ(KAVFileGet8(f), data[50]);
  KAVFileSetPos(f, 700);
  EXPECT_EQ(KAVFileGet8(f), data[700]);
  KAVFileSetPos(f, 3);
  EXPECT_EQ(KAVFileGet8(f), data[3]);
  // A read larger than the buffer goes straight through and lands right.
  Bytes big(300);
  KAVFileSetPos(f, 600);
  EXPECT_EQ(KAVFileGet(f, big.data(), 300), 300u);
  EXPECT_TRUE(std::equal(big.begin(), big.end(), data.begin() + 600));
  EXPECT_EQ(KAVFileGetPos(f), 900u);
  EXPECT_EQ(KAVFileGet(f, big.data(), 300), 100u);
  EXPECT_EQ(KAVFileAtEnd(f), 1);
  KAVFileClose(f);
}

TEST_F(KavFileTest, CreateEmptiesAndLocksOutOtherCreators) {
  write("old", Bytes(50, 9));
  KAVFile *f = create("old");
  EXPECT_EQ(KAVFileSize(f), 0u);
  EXPECT_EQ(KAVFileCreate(64, path("old").c_str()), nullptr);  // held exclusively
  KAVFilePut32(f, 0x01020304);
  KAVFileFlush(f, 1);
  EXPECT_EQ(read("old"), (Bytes{4, 3, 2, 1}));  // the locked-out create did not cut it
  KAVFileClose(f);
  KAVFile *shared = KAVFileCreateWithRead(64, path("old").c_str());
  ASSERT_NE(shared, nullptr);
  KAVFile *reader = open("old");
  EXPECT_NE(reader, nullptr);
  KAVFileClose(reader);
  KAVFileClose(shared);
}

TEST_F(KavFileTest, TimesAreWindowsFileTimes) {
  write("t", {1});
  KAVFile *f = open("t", 64, KAV_FILE_READWRITE);
  // 2020-01-01 00:00:00 UTC as a Windows file time, high word.
  const uint64_t ft = (1577836800ull + 11644473600ull) * 10000000ull;
  const uint32_t high = static_cast<uint32_t>(ft >> 32);
  KAVFileSetTime(f, high);
  EXPECT_EQ(KAVFileGetTime(f), high);
  KAVFileClose(f);
  struct stat st;
  ASSERT_EQ(stat(path("t").c_str(), &st), 0);
  const uint64_t expect = (static_cast<uint64_t>(high) << 32) / 10000000ull - 11644473600ull;
  EXPECT_EQ(static_cast<uint64_t>(st.st_mtim.tv_sec), expect);
}

TEST_F(KavFileTest, EraseAndRenameReportMissingFiles) {
  write("e", {1});
  EXPECT_EQ(KAVFileRename(path("n").c_str(), path("missing").c_str()), 1);
  EXPECT_EQ(KAVFileRename(path("n").c_str(), path("e").c_str()), 0);
  EXPECT_EQ(read("n"), Bytes{1});
  EXPECT_EQ(KAVFileErase(path("e").c_str()), 1);
  EXPECT_EQ(KAVFileErase(path("n").c_str()), 0);
  EXPECT_EQ(KAVFileErase(tmp_.path().c_str()), 2);  // a folder: other failure
}

TEST_F(KavFileTest, WritesThroughAReadBufferLandWhereRead) {
  write("rw", Bytes(10, 0));
  KAVFile *f = open("rw", 4, KAV_FILE_READWRITE);
  EXPECT_EQ(KAVFileGet8(f), 0u);
  EXPECT_EQ(KAVFileGet8(f), 0u);
  const uint8_t patch[] = {7, 8, 9, 10, 11, 12};
  EXPECT_EQ(KAVFilePutNB(f, patch, sizeof patch), sizeof patch);  // larger than the buffer
  EXPECT_EQ(KAVFileGetPos(f), 8u);
  EXPECT_EQ(KAVFileGet8(f), 0u);
  KAVFileClose(f);
  EXPECT_EQ(read("rw"), (Bytes{0, 0, 7, 8, 9, 10, 11, 12, 0, 0}));
}

namespace {

// Bits written just below the 32-bit offset limit: the last whole byte
// that fits is at offset 0xFFFFFFFE, the rest is refused and flagged. The
// file is sparse, so only its tail takes room.
TEST_F(KavFileTest, BitWritesStopAtTheOffsetLimit) {
  for (int32_t buffer : {0, 64, 4096}) {
    SCOPED_TRACE(buffer);
    KAVFile *f = create("limit", buffer);
    ASSERT_NE(f, nullptr);
    KAVFilePutBits(f, 0x3, 2);  // a partial byte before the seek is aligned away
    // Far enough below the limit that buffered writes go fast for a while.
    KAVFileSetPos(f, 0xFFFFFF00u);
    for (uint32_t i = 0; i < 300; ++i) KAVFilePutBits(f, i * 7, 8);
    EXPECT_EQ(KAVFileWriteError(f), 1);
    EXPECT_EQ(KAVFileGetPos(f), 0xFFFFFFFFu);
    KAVFileClose(f);
    struct stat st {};
    ASSERT_EQ(stat(path("limit").c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 0xFFFFFFFFull);
    FILE *raw = std::fopen(path("limit").c_str(), "rb");
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(fseeko(raw, static_cast<off_t>(0xFFFFFF00u), SEEK_SET), 0);
    uint8_t tail[256] = {};
    EXPECT_EQ(std::fread(tail, 1, sizeof tail, raw), 255u);
    std::fclose(raw);
    for (uint32_t i = 0; i < 255; ++i) ASSERT_EQ(tail[i], static_cast<uint8_t>(i * 7)) << i;
  }
}

}  // namespace
