#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "kavutil/kavbase.h"

TEST(CopyData, WritesOneFramedLittleEndianRecord) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const char data[] = "hello";
  EXPECT_EQ(CopyData(fds[1], 0x01020304u, 0x1234u, 5, data), 1);
  EXPECT_EQ(CopyData(fds[1], 7, 8, 0, nullptr), 1);
  close(fds[1]);
  std::vector<unsigned char> got(64);
  ssize_t n = read(fds[0], got.data(), got.size());
  close(fds[0]);
  ASSERT_EQ(n, 12 + 5 + 12);
  const unsigned char want[] = {4, 3, 2, 1, 0x34, 0x12, 0, 0, 5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o',
                                7, 0, 0, 0, 8,    0,    0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<unsigned char>(got.begin(), got.begin() + n),
            std::vector<unsigned char>(want, want + sizeof want));
}

TEST(CopyData, ClosedOrMissingOwnerFailsWithoutKillingTheProcess) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody reads: a plain write would raise SIGPIPE
  EXPECT_EQ(CopyData(fds[1], 1, 2, 3, "abc"), 0);
  close(fds[1]);
  EXPECT_EQ(CopyData(KAV_NO_WINDOW, 1, 2, 0, nullptr), 0);
  EXPECT_EQ(CopyData(fds[1], 1, 2, 0, nullptr), 0);  // closed descriptor
  EXPECT_EQ(CopyData(1, 1, 2, 4, nullptr), 0);        // data missing
}
