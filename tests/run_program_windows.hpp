// RunProgram on Windows: the program started with CreateProcessW, its
// standard handles chosen as the POSIX version chooses descriptors. Paths and
// arguments are UTF-8; "/dev/null" names the null device, NUL.
#pragma once

#include <windows.h>
// psapi.h needs what windows.h declares.
#include <psapi.h>

#include <string>
#include <vector>

#include "run_program.hpp"

namespace test {

// The most UTF-16 characters a Windows command line may have.
inline constexpr std::size_t kLongestCommandLine = 32767;

inline std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

// One argument as the C runtime's parser reads it back: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
inline std::wstring Quoted(const std::wstring& word) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// A handle the child inherits, or null when the file cannot be opened.
inline HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE handle = CreateFileW(Wide(path == "/dev/null" ? "NUL" : path).c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                              disposition, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// Runs `program` with `args` in `dir`, standard error captured. No limit on
// file sizes: Windows has none to set.
inline Run RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const ScratchDir& dir, const Streams& streams = {}) {
  const std::string outPath = dir / ".stdout", errPath = dir / ".stderr";
  auto inDir = [&](const std::string& path) {
    const bool absolute =
        path.empty() || path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
    return absolute ? path : dir / path;
  };
  std::wstring line = Quoted(Wide(program));
  for (const std::string& arg : args) line += L" " + Quoted(Wide(arg));
  // Windows refuses a longer command line; Wine would cut it short instead.
  if (line.size() > kLongestCommandLine) return {};

  HANDLE pipeRead = nullptr, pipeWrite = nullptr;
  HANDLE in = nullptr;
  if (streams.piped) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    // Small inputs only: the whole of them must fit in the pipe's buffer.
    DWORD written = 0;
    if (!CreatePipe(&pipeRead, &pipeWrite, &inherit, 1 << 16) ||
        !::WriteFile(pipeWrite, streams.piped->data(), static_cast<DWORD>(streams.piped->size()),
                     &written, nullptr)) {
      return {};
    }
    CloseHandle(pipeWrite);
    in = pipeRead;
  } else {
    in = Inheritable(inDir(streams.in), GENERIC_READ, OPEN_EXISTING);
  }
  HANDLE out = nullptr;
  if (streams.out.empty()) {
    out = Inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  } else if ((streams.outFlags & O_APPEND) != 0) {
    out = Inheritable(inDir(streams.out), GENERIC_WRITE, OPEN_ALWAYS);
    if (out != nullptr) SetFilePointer(out, 0, nullptr, FILE_END);
  } else if ((streams.outFlags & O_RDWR) != 0) {
    out = Inheritable(inDir(streams.out), GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  } else {
    out = Inheritable(inDir(streams.out), GENERIC_WRITE, CREATE_ALWAYS);
  }
  HANDLE err = Inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = streams.closeIn ? nullptr : in;
  startup.hStdOutput = streams.closeOut ? nullptr : out;
  startup.hStdError = streams.closeErr ? nullptr : err;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                      nullptr, Wide(dir.path()).c_str(), &startup, &process);
  for (HANDLE handle : {in, out, err}) {
    if (handle != nullptr) CloseHandle(handle);
  }
  if (!started) return {};
  HANDLE job = nullptr;
  if (streams.addressSpaceMiB > 0) {
    job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit = {};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limit.ProcessMemoryLimit = static_cast<SIZE_T>(streams.addressSpaceMiB) << 20;
    if (job != nullptr) {
      SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit);
      AssignProcessToJobObject(job, process.hProcess);
    }
  }
  ResumeThread(process.hThread);
  Run run;
  // A hang ends the process after a minute, which the caller sees as failure.
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 0xC0000000u);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &code);
  // Exception codes (an access violation is 0xC0000005) are no exit status.
  run.status = code >= 0xC0000000u ? -1 : static_cast<int>(code);
  PROCESS_MEMORY_COUNTERS memory = {};
  if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
    run.peakKiB = static_cast<long>(memory.PeakWorkingSetSize / 1024);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (job != nullptr) CloseHandle(job);
  if (streams.out.empty()) run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

}  // namespace test
