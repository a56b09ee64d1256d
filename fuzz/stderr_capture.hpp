// Shared by the fuzz targets: catching what a call writes to stderr, and
// stopping the run when a property fails.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Runs `call` with stderr sent to an in-memory file; returns what it wrote.
template <typename Call>
std::string CaptureStderr(Call call) {
  static const int file = memfd_create("stderr", 0);
  if (file < 0 || ftruncate(file, 0) != 0) std::abort();
  std::fflush(stderr);
  const int saved = dup(2);
  dup2(file, 2);
  call();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text(static_cast<std::size_t>(lseek(file, 0, SEEK_END)), '\0');
  if (!text.empty() && pread(file, &text[0], text.size(), 0) < 0) std::abort();
  return text;
}

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
