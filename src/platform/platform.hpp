// Everything that differs between operating systems, behind one small
// interface: platform_posix.cpp and platform_windows.cpp implement it, and the
// build compiles the one for its target. Nothing else asks which system it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Gives each closed standard stream (0, 1, 2) the null device, opened the
// wrong way round: a file opened later cannot take its place (messages for
// standard error would land in the "-out" file), and using it still fails as
// using a closed stream does. Call before anything is opened.
void OccupyClosedStandardStreams();

// Standard input, output and error carry bytes as they are: no line-ending
// translation, no end at a 0x1A byte. Nothing to do on POSIX.
void UseBinaryStandardStreams();

// Past a file-size limit (`ulimit -f`) POSIX ends the process with a signal,
// leaving a truncated file and no word of it; after this the write fails
// and is reported like any other. Nothing to do on Windows.
void LetOversizedWritesFail();

// The arguments in UTF-8. POSIX gives them back as they are; Windows reads
// the command line again as wide characters, so that any path can be named.
// What it returns lives until the process ends; `argv` comes back when the
// wide command line cannot be had.
char** Utf8Arguments(int argc, char** argv);

// std::fopen with a UTF-8 path; `mode` is "rb" or "wb". A folder opened for
// reading opens everywhere, and reading it fails. Returns null when the file
// cannot be opened; the caller closes what it returns.
std::FILE* OpenFile(const char* path, const char* mode);

// OpenFile(path, "wb") for the file a run writes its image to, but what an
// existing regular file held is let go on a thread of its own while the run
// reads (freeing a large file's pages takes about as long as reading an
// image). The file is empty once AwaitEmptied returns, and when the process
// exits, however it exits. Only the first file a process opens so, and only
// one of at least 4 MiB, is emptied in the background; smaller ones, later
// ones, one where no thread can be had, one that standard error goes to, and
// every one on Windows are emptied before this returns (and not opened where
// that fails).
std::FILE* OpenOutputFile(const char* path);

// Returns once the file OpenOutputFile empties is empty (at once if there is
// none): true, or false when it could not be emptied, and what it still
// holds must not be written over.
bool AwaitEmptied();

// What tells one regular file from every other, whatever name reached it:
// device and inode on POSIX, volume serial number and file index on Windows.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

// True, with `identity` filled, when `path` (UTF-8) names an existing regular
// file; false for anything else (missing, a folder, a device, a pipe, no
// access). Symbolic links are followed.
bool RegularFileAt(const char* path, FileIdentity& identity);

// The same for the file behind an open stream.
bool RegularFileOf(std::FILE* stream, FileIdentity& identity);

// Advice that a large buffer about to be filled be backed by huge pages, so
// that filling it faults in a few dozen pages instead of thousands. Purely
// advisory: does nothing where it cannot.
void AdviseHugePages(void* buffer, std::size_t size);

// Where the manual is, as the usage names it: the manual page on POSIX; on
// Windows the web page that comes beside the program.
std::string WhereTheManualIs(const char* program);

// How many processors this process may run on, at least 1: the affinity
// mask's count where the system has one, else the processors present.
unsigned UsableCpuCount();

// The sizes of the data caches a core reaches, in bytes: its own level 1 and
// 2 and the shared level 3, as the system reports them; where it reports
// none, the sizes of a common desktop processor (48 KiB, 1 MiB, 16 MiB).
struct CacheSizes {
  std::size_t level1 = std::size_t{48} << 10;
  std::size_t level2 = std::size_t{1} << 20;
  std::size_t level3 = std::size_t{16} << 20;
};
CacheSizes DataCacheSizes();

}  // namespace platform
