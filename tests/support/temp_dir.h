// A scratch folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string &name) const;

 private:
  std::string path_;
};

// Changes into a folder for one scope and back again afterwards.
class InDirectory {
 public:
  explicit InDirectory(const std::string &dir);
  ~InDirectory();
  InDirectory(const InDirectory &) = delete;
  InDirectory &operator=(const InDirectory &) = delete;

 private:
  std::string old_;
};

std::vector<uint8_t> readFile(const std::string &name);
void writeFile(const std::string &name, const std::vector<uint8_t> &bytes);

}  // namespace kavtest
