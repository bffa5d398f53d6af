#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kavtest {

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/kavtest-XXXXXX";
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return path_ + "/" + name; }

InDirectory::InDirectory(const std::string &dir) : old_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir);
}

InDirectory::~InDirectory() {
  std::error_code ec;
  std::filesystem::current_path(old_, ec);
}

std::vector<uint8_t> readFile(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &name, const std::vector<uint8_t> &bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kavtest
