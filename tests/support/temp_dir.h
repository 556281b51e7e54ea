// A fresh directory per test, removed with everything in it afterwards.
#ifndef N47_TESTS_SUPPORT_TEMP_DIR_H
#define N47_TESTS_SUPPORT_TEMP_DIR_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace n47test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // The names in the directory, sorted: what a run left behind.
  std::vector<std::string> names() const;

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace n47test

#endif
