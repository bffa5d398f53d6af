// Runs a fuzz target over files: each argument is a file or a folder whose
// files (recursively) are fed to the target one at a time.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  size_t count = 0;
  auto run = [&](const fs::path &p) {
    std::vector<uint8_t> bytes = kavtest::readFile(p.string());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++count;
  };
  for (int i = 1; i < argc; ++i) {
    fs::path p(argv[i]);
    if (fs::is_directory(p)) {
      for (const auto &e : fs::recursive_directory_iterator(p))
        if (e.is_regular_file()) run(e.path());
    } else {
      run(p);
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
