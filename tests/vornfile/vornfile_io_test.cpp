// The file layer: ring reads without file calls, skips inside the ring,
// seeks on backward reads, block-rounded requests, read-ahead in whole
// blocks, reads without a ring, and the sticky error flag.
#include <gtest/gtest.h>

#include "movie_model.h"
#include "platform/os_file.h"

using namespace kavtest;
using namespace kav::vorn;

namespace {

struct IoFixture : ::testing::Test {
  TempDir dir;
  std::vector<uint8_t> data;
  VornIo io{};
  std::vector<uint8_t> ring;

  void SetUp() override {
    data.resize(50000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + (i >> 9));
    writeFile(dir.file("data.bin"), data);
    ASSERT_EQ(VornIoOpen(io, dir.file("data.bin").c_str(), KAV_INVALID_OS_FILE, 0), 1);
  }
  void TearDown() override { io.ops.close(io); }

  void attach(uint32_t size, uint32_t streamEnd) {
    ring.assign(size, 0);
    io.ops.setBuffer(io, ring.data(), size, streamEnd, 0);
  }
  void fillAll() {
    while (io.ops.fill(io)) {
    }
  }
  std::vector<uint8_t> read(uint32_t at, uint32_t n) {
    std::vector<uint8_t> out(n, 0xFF);
    EXPECT_EQ(io.ops.read(io, at, out.data(), n), n);
    return out;
  }
  std::vector<uint8_t> expect(uint32_t at, uint32_t n) {
    return std::vector<uint8_t>(data.begin() + at, data.begin() + at + n);
  }
};

}  // namespace

TEST_F(IoFixture, OperationsAreInTheirFixedOrder) {
  EXPECT_EQ(io.ops.readAt, &VornIoReadAt);
  EXPECT_EQ(io.ops.read, &VornIoRead);
  EXPECT_EQ(io.ops.bufferSize, &VornIoBufferSize);
  EXPECT_EQ(io.ops.setBuffer, &VornIoSetBuffer);
  EXPECT_EQ(io.ops.fill, &VornIoFill);
  EXPECT_EQ(io.ops.close, &VornIoClose);
}

TEST_F(IoFixture, RequestsRoundUpToWholeBlocks) {
  EXPECT_EQ(io.ops.bufferSize(io, 10000), 12288u);
  EXPECT_EQ(io.ops.bufferSize(io, 4096), 4096u);
  EXPECT_EQ(io.ops.bufferSize(io, 0), 0u);
  EXPECT_EQ(io.ops.bufferSize(io, 0xFFFFFFFFu), 0xFFFFF000u);
  // The ring itself is rounded down.
  attach(10000, 50000);
  EXPECT_EQ(io.capacity, 8192u);
}

TEST_F(IoFixture, ReadAtTheLogicalPositionComesFromTheRingWithoutAFileCall) {
  attach(16384, 50000);
  fillAll();
  EXPECT_EQ(io.held, 16384u);
  EXPECT_EQ(io.filePosition, 16384u);
  uint32_t calls = io.fileReads;
  EXPECT_EQ(read(0, 1000), expect(0, 1000));
  EXPECT_EQ(read(kVornIoCurrent, 3000), expect(1000, 3000));
  EXPECT_EQ(io.fileReads, calls);
  EXPECT_EQ(io.logicalPosition, 4000u);
  // Wrap-around: refill what was taken, then read across the ring's end.
  EXPECT_EQ(io.ops.fill(io), 0u);  // only 4000 bytes free: less than a block
  EXPECT_EQ(read(4000, 200), expect(4000, 200));
  EXPECT_EQ(io.ops.fill(io), 4096u);  // written at the ring's start
  EXPECT_EQ(read(4200, 16000), expect(4200, 16000));
  EXPECT_EQ(io.fileReads, calls + 1);
}

TEST_F(IoFixture, ForwardSkipInsideTheRingDiscardsWithoutSeeking) {
  attach(8192, 50000);
  fillAll();
  uint32_t calls = io.fileReads;
  EXPECT_EQ(read(5000, 100), expect(5000, 100));
  EXPECT_EQ(io.fileReads, calls);
  EXPECT_EQ(io.held, 8192u - 5100);
  // A read that outruns the ring takes the rest in one file read.
  EXPECT_EQ(read(6000, 5000), expect(6000, 5000));
  EXPECT_EQ(io.fileReads, calls + 1);
  EXPECT_EQ(io.held, 0u);
  EXPECT_EQ(io.filePosition, 11000u);
  EXPECT_EQ(io.logicalPosition, 11000u);
}

TEST_F(IoFixture, ReadBeforeTheLogicalPositionSeeksAndEmptiesTheRing) {
  attach(8192, 50000);
  fillAll();
  EXPECT_EQ(read(4000, 10), expect(4000, 10));
  EXPECT_EQ(read(3000, 10), expect(3000, 10));
  EXPECT_EQ(io.held, 0u);
  EXPECT_EQ(io.freeBytes, 8192u);
  EXPECT_EQ(io.filePosition, 3010u);
  // Beyond the file position also seeks.
  fillAll();
  EXPECT_EQ(read(30000, 10), expect(30000, 10));
  EXPECT_EQ(io.held, 0u);
}

TEST_F(IoFixture, WithoutARingEveryReadIsOneFileRead) {
  io.ops.setBuffer(io, nullptr, 0, 50000, 0);
  EXPECT_EQ(io.ops.fill(io), 0u);
  uint32_t calls = io.fileReads;
  EXPECT_EQ(read(100, 10), expect(100, 10));
  EXPECT_EQ(read(110, 10), expect(110, 10));
  EXPECT_EQ(read(50, 10), expect(50, 10));
  EXPECT_EQ(io.fileReads, calls + 3);
}

TEST_F(IoFixture, TheLastPartialBlockIsNeverReadAhead) {
  attach(65536, 10000);  // stream end 10000: two whole blocks, then 1808 bytes
  fillAll();
  EXPECT_EQ(io.held, 8192u);
  EXPECT_EQ(io.room, 8192u);
  EXPECT_EQ(read(0, 10000), expect(0, 10000));
}

TEST_F(IoFixture, AShortReadStopsEveryLaterBufferedRead) {
  attach(8192, 60000);  // the stream claims more than the file has
  std::vector<uint8_t> out(20000);
  EXPECT_EQ(io.ops.read(io, 40000, out.data(), 20000), 10000u);
  EXPECT_TRUE(io.error);
  EXPECT_EQ(io.ops.read(io, 0, out.data(), 10), 0u);
  EXPECT_EQ(io.ops.fill(io), 0u);
}

TEST_F(IoFixture, AShortBlockOfReadAheadIsNotKept) {
  attach(8192, 60000);
  std::vector<uint8_t> out(10);
  EXPECT_EQ(io.ops.read(io, 48000, out.data(), 10), 10u);
  EXPECT_EQ(io.ops.fill(io), 0u);  // 1990 bytes left in the file
  EXPECT_TRUE(io.error);
  EXPECT_EQ(io.held, 0u);
}

TEST_F(IoFixture, ReadAtMovesOnlyWhenItMustAndKeepsThePositionsTogether) {
  std::vector<uint8_t> out(8);
  EXPECT_EQ(io.ops.readAt(io, 0, out.data(), 8), 8u);
  EXPECT_EQ(out, expect(0, 8));
  EXPECT_EQ(io.ops.readAt(io, kVornIoCurrent, out.data(), 8), 8u);
  EXPECT_EQ(out, expect(8, 8));
  EXPECT_EQ(io.ops.readAt(io, 100, out.data(), 8), 8u);
  EXPECT_EQ(out, expect(100, 8));
  EXPECT_EQ(io.filePosition, 108u);
  EXPECT_EQ(io.logicalPosition, 108u);
}

TEST(VornIo, DescriptorPositionBecomesTheStreamStartAndStaysOpen) {
  TempDir dir;
  std::vector<uint8_t> data(9000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  writeFile(dir.file("d.bin"), data);
  KavOsFile fd = kav::os::openExisting(dir.file("d.bin").c_str(), false);
  ASSERT_TRUE(kav::os::seek(fd, 1234));
  VornIo io;
  ASSERT_EQ(VornIoOpen(io, nullptr, fd, kVornIoByHandle), 1);
  EXPECT_EQ(io.streamStart, 1234u);
  uint8_t b[4];
  EXPECT_EQ(io.ops.readAt(io, 0, b, 4), 4u);
  EXPECT_EQ(b[0], uint8_t(1234));
  io.ops.close(io);
  EXPECT_TRUE(kav::os::seek(fd, 0));
  EXPECT_EQ(kav::os::read(fd, b, 4), 4u);
  kav::os::close(fd);
  EXPECT_EQ(VornIoOpen(io, dir.file("missing").c_str(), KAV_INVALID_OS_FILE, 0), 0);
}
