// Shared by the fuzz targets: the one-line message rule, stopping the run
// when a property fails, and bytes as a file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A failed call writes exactly one line; a successful one writes nothing.
inline bool OneMessageLine(const std::string& text) {
  return !text.empty() && text.find('\n') == text.size() - 1;
}

#define FUZZ_CHECK(condition)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

// The bytes as a regular file, as a user's image would be: a reader may
// then compare a header with the file's size before it allocates.
inline std::FILE* OpenBytes(const std::uint8_t* data, std::size_t size) {
  const int file = memfd_create("image", 0);
  FUZZ_CHECK(file >= 0);
  FUZZ_CHECK(write(file, data, size) == static_cast<ssize_t>(size));
  FUZZ_CHECK(lseek(file, 0, SEEK_SET) == 0);
  return fdopen(file, "rb");
}
