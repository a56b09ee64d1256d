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

}  // namespace platform
