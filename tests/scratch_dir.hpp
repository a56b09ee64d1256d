// A scratch folder for a test, and whole-file reads and writes in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace test {

// The device that takes any bytes and gives none.
#ifdef _WIN32
inline constexpr char kNullDevice[] = "NUL";
#else
inline constexpr char kNullDevice[] = "/dev/null";
#endif

// Paths are UTF-8, as the program's arguments are.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(std::filesystem::u8path(path), std::ios::binary) << bytes;
}

// A fresh empty folder, removed with its contents when the test ends.
class ScratchDir {
 public:
  // Under the system's folder for temporary files, a name not yet taken.
  ScratchDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::mt19937_64 random(std::random_device{}());
    std::error_code error;
    for (int tries = 0; tries < 100; ++tries) {
      const std::filesystem::path candidate = base / ("remap-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate, error)) {
        path_ = candidate.u8string();
        break;
      }
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace test
