// The platform interface on Linux and other POSIX systems.
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.hpp"

namespace platform {
namespace {

bool RegularFile(const struct stat& file, FileIdentity& identity) {
  if (!S_ISREG(file.st_mode)) return false;
  identity.volume = static_cast<std::uint64_t>(file.st_dev);
  identity.index = static_cast<std::uint64_t>(file.st_ino);
  return true;
}

// Below this, letting a file's content go takes about as long as starting a
// thread to do it (tens of microseconds), and the thread's stack would take
// address space that a memory limit may have left for the image.
constexpr off_t kEmptiedInBackground = off_t{4} << 20;

// The output file's old content, let go on a thread of its own through a
// descriptor of its own, which the stream's closing leaves alone. Process
// exit awaits it before the thread object goes.
struct Emptying {
  bool started = false;
  std::thread thread;
  int result = 0;
};
Emptying emptying;

void AwaitEmptying() {
  if (emptying.thread.joinable()) emptying.thread.join();
}

// Starts emptying the file open as `fd`. False, with nothing started, when
// no thread (or descriptor) can be had, or one was started before.
bool EmptySoon(int fd) {
  if (emptying.started) return false;
  const int own = dup(fd);
  if (own < 0) return false;
  if (std::atexit(AwaitEmptying) != 0) {
    close(own);
    return false;
  }
  emptying.started = true;
  try {
    emptying.thread = std::thread([own] {
      emptying.result = ftruncate(own, 0);
      close(own);
    });
  } catch (...) {
    emptying.result = ftruncate(own, 0);
    close(own);
  }
  return true;
}

}  // namespace

void OccupyClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    }
  }
}

void UseBinaryStandardStreams() {}

void LetOversizedWritesFail() {
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

char** Utf8Arguments(int, char** argv) { return argv; }

std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

std::FILE* OpenOutputFile(const char* path) {
  // As fopen's "wb" opens, but without O_TRUNC.
  const int fd = open(path, O_WRONLY | O_CREAT, 0666);
  if (fd < 0) return nullptr;
  struct stat file, messages;
  if (fstat(fd, &file) != 0) {
    close(fd);
    return nullptr;
  }
  // Where messages go to the same file (`-out log 2>>log`), they must find
  // its old content gone: it goes at once.
  const bool messagesHere = fstat(STDERR_FILENO, &messages) == 0 &&
                            messages.st_dev == file.st_dev && messages.st_ino == file.st_ino;
  const bool holdsBytes = S_ISREG(file.st_mode) && file.st_size > 0;
  const bool large = file.st_size >= kEmptiedInBackground;
  if (holdsBytes && (messagesHere || !large || !EmptySoon(fd)) && ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) close(fd);
  return stream;
}

bool AwaitEmptied() {
  AwaitEmptying();
  return emptying.result == 0;
}

bool RegularFileAt(const char* path, FileIdentity& identity) {
  struct stat file;
  return stat(path, &file) == 0 && RegularFile(file, identity);
}

bool RegularFileOf(std::FILE* stream, FileIdentity& identity) {
  struct stat file;
  return stream != nullptr && fstat(fileno(stream), &file) == 0 && RegularFile(file, identity);
}

// Only the whole 2 MiB stretches inside the buffer can be huge pages.
void AdviseHugePages(void* buffer, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (start + size) & ~(kHuge - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)buffer;
  (void)size;
#endif
}

std::string WhereTheManualIs(const char* program) { return std::string("man ") + program; }

unsigned UsableCpuCount() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  const unsigned present = std::thread::hardware_concurrency();
  return present > 0 ? present : 1;
}

// sysconf where the C library knows the sizes (glibc asks the processor);
// else what Linux lists under /sys; else the defaults.
CacheSizes DataCacheSizes() {
  CacheSizes sizes;
  std::size_t* const level[] = {&sizes.level1, &sizes.level2, &sizes.level3};
#if defined(_SC_LEVEL1_DCACHE_SIZE) && defined(_SC_LEVEL2_CACHE_SIZE) && \
    defined(_SC_LEVEL3_CACHE_SIZE)
  const int names[] = {_SC_LEVEL1_DCACHE_SIZE, _SC_LEVEL2_CACHE_SIZE, _SC_LEVEL3_CACHE_SIZE};
  bool known = false;
  for (int l = 0; l < 3; ++l) {
    const long size = sysconf(names[l]);
    if (size > 0) *level[l] = static_cast<std::size_t>(size);
    known = known || size > 0;
  }
  if (known) return sizes;
#endif
  for (int index = 0; index < 8; ++index) {
    const std::string folder =
        "/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/";
    unsigned long l = 0, size = 0;
    char type[16] = {}, unit = 0;
    std::FILE* file = std::fopen((folder + "level").c_str(), "r");
    if (file == nullptr) break;
    const bool read = std::fscanf(file, "%lu", &l) == 1;
    std::fclose(file);
    file = std::fopen((folder + "type").c_str(), "r");
    const bool typed = file != nullptr && std::fscanf(file, "%15s", type) == 1;
    if (file != nullptr) std::fclose(file);
    file = std::fopen((folder + "size").c_str(), "r");
    const bool sized = file != nullptr && std::fscanf(file, "%lu%c", &size, &unit) >= 1;
    if (file != nullptr) std::fclose(file);
    if (!read || !typed || !sized || l < 1 || l > 3 || std::strcmp(type, "Instruction") == 0) {
      continue;
    }
    *level[l - 1] = static_cast<std::size_t>(size) << (unit == 'K' ? 10 : unit == 'M' ? 20 : 0);
  }
  return sizes;
}

}  // namespace platform
