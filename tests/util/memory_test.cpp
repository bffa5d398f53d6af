#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "kavutil/kavbase.h"
#include "ui/recording_backend.h"

TEST(Memory, BlocksAreAlignedAndUsable) {
  kav::ui::RecordingBackend ui;
  std::vector<void *> blocks;
  for (uint32_t n = 1; n < 300; n += 7) {
    auto *p = static_cast<unsigned char *>(kavmalloc(n));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
    std::memset(p, 0xAB, n);  // the whole block is ours (ASan checks the ends)
    blocks.push_back(p);
  }
  for (void *p : blocks) kavfree(p);
  kavfree(nullptr);
  EXPECT_TRUE(ui.boxes().empty());
}

TEST(Memory, ZeroAndAllOnesGiveNullWithoutAMessage) {
  kav::ui::RecordingBackend ui;
  EXPECT_EQ(kavmalloc(0), nullptr);
  EXPECT_EQ(kavmalloc(0xFFFFFFFFu), nullptr);
  EXPECT_TRUE(ui.boxes().empty());
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define KAV_TEST_PLAIN_MALLOC 1
#elif !defined(__SANITIZE_ADDRESS__) && defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define KAV_TEST_PLAIN_MALLOC 1
#endif
#endif

#ifdef KAV_TEST_PLAIN_MALLOC
// In a child process with a small address-space limit the C heap refuses a
// big block: the user is told, and the result is null.
void allocateUnderALimit() {
  kav::ui::RecordingBackend ui;
  struct rlimit lim = {512u << 20, 512u << 20};
  setrlimit(RLIMIT_AS, &lim);
  void *p = kavmalloc(0xF0000000u);
  const bool told = ui.boxes().size() == 1 && ui.boxes()[0].text == "Error: ran out of memory!" &&
                    ui.boxes()[0].caption == "Memory Error" && ui.boxes()[0].icon == kav::ui::Icon::Error;
  _exit(p == nullptr && told ? 0 : 1);
}

TEST(MemoryDeathTest, OutOfMemoryShowsTheMessageAndGivesNull) {
  EXPECT_EXIT(allocateUnderALimit(), ::testing::ExitedWithCode(0), "");
}
#endif
