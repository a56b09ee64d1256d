// Catching what a call writes to stderr, and files that vanish once closed,
// for tests and fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

// A new empty file, open for reading and writing, gone once closed: what
// std::tmpfile gives, except that Windows' C library makes that one in the
// root of the current drive, under names that processes running side by
// side share. Aborts when there is none to be had.
inline std::FILE* TemporaryFile() {
#ifdef _WIN32
  std::FILE* file = nullptr;
  std::mt19937_64 random(std::random_device{}());
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  for (int tries = 0; tries < 100 && file == nullptr; ++tries) {
    const std::filesystem::path name = folder / ("remap-" + std::to_string(random()) + ".tmp");
    const int fd = _wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                          _S_IREAD | _S_IWRITE);
    if (fd >= 0) file = _fdopen(fd, "w+b");
  }
#else
  std::FILE* file = std::tmpfile();
#endif
  if (file == nullptr) std::abort();
  return file;
}

// Runs `call` with stderr sent to an in-memory file (a temporary one on
// Windows); returns what it wrote.
template <typename Call>
std::string CaptureStderr(Call call) {
#ifdef _WIN32
  std::FILE* file = TemporaryFile();
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
