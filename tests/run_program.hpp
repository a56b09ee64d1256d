// Running a real executable in a scratch folder with chosen standard
// streams, and what it left: exit status, output, messages, peak memory.
#pragma once

#include <fcntl.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "scratch_dir.hpp"

// Set for a build that runs on another processor: the emulator's command
// line, its words separated by single blanks.
#ifndef REMAP_EMULATOR
#define REMAP_EMULATOR ""
#endif

namespace test {

inline bool Emulated() { return REMAP_EMULATOR[0] != '\0'; }

// The words that run a built program: the emulator's first, if any.
inline std::vector<std::string> CommandFor(const std::string& program) {
  std::vector<std::string> words;
  const std::string emulator = REMAP_EMULATOR;
  for (std::size_t start = 0; start < emulator.size();) {
    const std::size_t end = std::min(emulator.find(' ', start), emulator.size());
    words.push_back(emulator.substr(start, end - start));
    start = end + 1;
  }
  words.push_back(program);
  return words;
}

// The same as one line for a shell.
inline std::string ShellCommandFor(const std::string& program) {
  std::string line;
  for (const std::string& word : CommandFor(program)) line += (line.empty() ? "" : " ") + word;
  return line;
}

// The two lines a failed run writes: the cause, then the failed step.
inline std::string Lines(const char* specific, const char* summary) {
  return std::string(specific) + summary;
}

struct Run {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out, err;
  long peakKiB = 0;  // the child's peak resident memory
};

// How the child's standard streams are set up: a path to open, or closed.
struct Streams {
  std::string in = "/dev/null";
  std::optional<std::string> piped;  // when set, standard input is a pipe holding these bytes
  std::string out;                   // empty: captured into Run::out
  int outFlags = O_WRONLY | O_CREAT | O_TRUNC;  // how `out` is opened: `>`; `>>`, `1<>` differ
  std::string err;                              // empty: captured into Run::err; else `2>>err`
  bool closeIn = false, closeOut = false, closeErr = false;
  long addressSpaceMiB = 0;  // when set, the child's address space is limited to this
  long fileSizeLimit = 0;    // when set, no file may grow past this many bytes (`ulimit -f`)
};

inline Streams PipedIn(std::string bytes) {
  Streams streams;
  streams.piped = std::move(bytes);
  return streams;
}

inline Streams StdinFrom(std::string path, std::string out = "", bool closeOut = false) {
  Streams streams;
  streams.in = std::move(path);
  streams.out = std::move(out);
  streams.closeOut = closeOut;
  return streams;
}

#ifndef _WIN32
// Runs `program` with `args` in `dir`, standard error captured.
inline Run RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const ScratchDir& dir, const Streams& streams = {}) {
  const std::string outPath = dir / ".stdout", errPath = dir / ".stderr";
  std::vector<std::string> words = CommandFor(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (streams.piped) {
    // Small inputs only: the whole of them must fit in the pipe's buffer.
    if (pipe(pipeEnds) != 0 || write(pipeEnds[1], streams.piped->data(), streams.piped->size()) !=
                                   static_cast<ssize_t>(streams.piped->size())) {
      return {};
    }
    close(pipeEnds[1]);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    const int in = streams.piped ? pipeEnds[0] : open(streams.in.c_str(), O_RDONLY);
    const int out = streams.out.empty() ? open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                        : open(streams.out.c_str(), streams.outFlags, 0644);
    const int err = streams.err.empty()
                        ? open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                        : open(streams.err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    close(in);
    close(out);
    close(err);
    if (streams.closeIn) close(0);
    if (streams.closeOut) close(1);
    if (streams.closeErr) close(2);
    if (streams.addressSpaceMiB > 0) {
      const rlim_t bytes = static_cast<rlim_t>(streams.addressSpaceMiB) << 20;
      const struct rlimit limit = {bytes, bytes};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (streams.fileSizeLimit > 0) {
      const auto bytes = static_cast<rlim_t>(streams.fileSizeLimit);
      const struct rlimit limit = {bytes, bytes};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    alarm(60);  // a hang ends as a signal, which the caller sees as failure
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (streams.piped) close(pipeEnds[0]);
  int wstatus = 0;
  struct rusage usage {};
  wait4(pid, &wstatus, 0, &usage);
  Run run;
  run.peakKiB = usage.ru_maxrss;
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  if (streams.out.empty()) run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  return run;
}

#endif

}  // namespace test

#ifdef _WIN32
#include "run_program_windows.hpp"
#endif
