// The platform interface on 64-bit Windows, built with MinGW-w64. Paths and
// arguments are UTF-8 inside the program and wide characters at the system.
#include <windows.h>
// shellapi.h needs what windows.h declares.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.hpp"

namespace platform {
namespace {

// UTF-8 to UTF-16; empty when `text` is not valid UTF-8.
std::wstring Widen(const char* text) {
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &wide[0], size);
  wide.pop_back();
  return wide;
}

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], size, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

// A disk file that is not a folder: every name of it, hard links and short
// names included, gives the same volume and index.
bool RegularFile(HANDLE handle, FileIdentity& identity) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION file;
  if (!GetFileInformationByHandle(handle, &file)) return false;
  if ((file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  identity.volume = file.dwVolumeSerialNumber;
  identity.index = std::uint64_t{file.nFileIndexHigh} << 32 | file.nFileIndexLow;
  return true;
}

}  // namespace

void OccupyClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle != -1 && handle != -2 && handle != 0) continue;
    const int opened = _open("NUL", fd == 0 ? _O_WRONLY : _O_RDONLY);
    if (opened >= 0 && opened != fd) {
      _dup2(opened, fd);
      _close(opened);
    }
  }
}

void UseBinaryStandardStreams() {
  for (std::FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
}

void LetOversizedWritesFail() {}

char** Utf8Arguments(int argc, char** argv) {
  static std::vector<std::string> storage;
  static std::vector<char*> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return argv;
  if (count == argc) {
    for (int i = 0; i < count; ++i) storage.push_back(Narrow(wide[i]));
    for (std::string& argument : storage) arguments.push_back(&argument[0]);
    arguments.push_back(nullptr);
  }
  LocalFree(wide);
  return arguments.empty() ? argv : arguments.data();
}

std::FILE* OpenFile(const char* path, const char* mode) {
  const std::wstring widePath = Widen(path), wideMode = Widen(mode);
  if (widePath.empty()) return nullptr;
  std::FILE* file = _wfopen(widePath.c_str(), wideMode.c_str());
  if (file != nullptr || wideMode != L"rb") return file;
  // Windows will not open a folder as a file; POSIX opens it and fails at
  // the first read. A stream with nothing in it fails there too.
  const DWORD attributes = GetFileAttributesW(widePath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return nullptr;
  }
  return _wfopen(L"NUL", L"rb");
}

std::FILE* OpenOutputFile(const char* path) { return OpenFile(path, "wb"); }

bool AwaitEmptied() { return true; }

bool RegularFileAt(const char* path, FileIdentity& identity) {
  const std::wstring widePath = Widen(path);
  if (widePath.empty()) return false;
  // No access asked for, all sharing allowed: only the file's identity is read.
  HANDLE handle =
      CreateFileW(widePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool regular = RegularFile(handle, identity);
  CloseHandle(handle);
  return regular;
}

bool RegularFileOf(std::FILE* stream, FileIdentity& identity) {
  if (stream == nullptr) return false;
  return RegularFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), identity);
}

// Large pages on Windows need a privilege and memory locked at allocation:
// nothing here is advisory, so nothing is asked.
void AdviseHugePages(void*, std::size_t) {}

std::string WhereTheManualIs(const char* program) {
  return std::string(program) + ".html, beside " + program + ".exe";
}

unsigned UsableCpuCount() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    return static_cast<unsigned>(__builtin_popcountll(process));
  }
  const unsigned present = std::thread::hardware_concurrency();
  return present > 0 ? present : 1;
}

// What the processor's caches are, from the system's list of them.
CacheSizes DataCacheSizes() {
  CacheSizes sizes;
  DWORD bytes = 0;
  GetLogicalProcessorInformation(nullptr, &bytes);
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> info(
      bytes / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  if (info.empty() || !GetLogicalProcessorInformation(info.data(), &bytes)) return sizes;
  std::size_t* const level[] = {&sizes.level1, &sizes.level2, &sizes.level3};
  for (const SYSTEM_LOGICAL_PROCESSOR_INFORMATION& each : info) {
    const CACHE_DESCRIPTOR& cache = each.Cache;
    if (each.Relationship == RelationCache && cache.Level >= 1 && cache.Level <= 3 &&
        cache.Type != CacheInstruction && cache.Size > 0) {
      *level[cache.Level - 1] = cache.Size;
    }
  }
  return sizes;
}

}  // namespace platform
