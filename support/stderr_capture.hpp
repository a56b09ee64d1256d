// Catching what a call writes to stderr, for tests and fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

// Runs `call` with stderr sent to an in-memory file (a temporary one on
// Windows); returns what it wrote.
template <typename Call>
std::string CaptureStderr(Call call) {
#ifdef _WIN32
  std::FILE* file = std::tmpfile();
  if (file == nullptr) std::abort();
  std::fflush(stderr);
  const int saved = _dup(2);
  _dup2(_fileno(file), 2);
  call();
  std::fflush(stderr);
  _dup2(saved, 2);
  _close(saved);
  std::fseek(file, 0, SEEK_END);
  std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  if (!text.empty() && std::fread(&text[0], 1, text.size(), file) != text.size()) std::abort();
  std::fclose(file);
  return text;
#else
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
#endif
}
