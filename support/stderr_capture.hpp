// Catching what a call writes to stderr, for tests and fuzz targets.
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
