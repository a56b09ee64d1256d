// Shared by the fuzz targets: the one-line message rule, and stopping the
// run when a property fails.
#pragma once

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
