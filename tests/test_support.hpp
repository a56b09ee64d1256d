// Helpers shared by the tests: building P6 files, a scratch folder, running
// the real executable, and the straightforward double-precision remap rule.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "remap.hpp"

namespace test {

// A P6 file from a description: the header pieces and separators are given so
// odd spacing can be built without counting bytes.
struct Ppm {
  std::string width = "2", height = "1", maxval = "255";
  std::string afterMagic = "\n", betweenSizes = " ", afterSizes = "\n", delimiter = "\n";
  std::string raster = std::string("\x10\x20\x30\xff\x00\x7f", 6);
  std::string Bytes() const {
    return "P6" + afterMagic + width + betweenSizes + height + afterSizes + maxval + delimiter +
           raster;
  }
};

const char kSig[] = "#000000:#ffffff";

// The two lines a failed run writes: the cause, then the failed step.
inline std::string Lines(const char* specific, const char* summary) {
  return std::string(specific) + summary;
}

// Raster of `pixels` pseudo-random pixels, the same for the same seed.
inline std::string RandomRaster(std::size_t pixels, unsigned seed) {
  std::mt19937 random(seed);
  std::string raster(pixels * 3, '\0');
  for (char& byte : raster) byte = static_cast<char>(random() & 0xFF);
  return raster;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Reads `bytes` with the program's own reader, its message (if any) dropped:
// the header values and raster a run on these bytes works on.
inline bool ReadWithLibrary(const std::string& bytes, Ppm& ppm) {
  std::FILE* input = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), input);
  std::rewind(input);
  std::uint16_t width, height, maxval;
  std::fflush(stderr);
  const int savedErr = dup(2), null = open("/dev/null", O_WRONLY);
  dup2(null, 2);
  const auto pixels = ReadImage(input, width, height, maxval);
  std::fflush(stderr);
  dup2(savedErr, 2);
  close(savedErr);
  close(null);
  std::fclose(input);
  if (!pixels) return false;
  ppm.width = std::to_string(width);
  ppm.height = std::to_string(height);
  ppm.maxval = std::to_string(maxval);
  ppm.raster.assign(reinterpret_cast<const char*>(pixels.get()), RasterBytes(width, height));
  return true;
}

// A fresh empty folder, removed with its contents when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/remap-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~ScratchDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Arrays of a Configuration filled from "#rrggbb:#rrggbb" strings.
inline Configuration MakeConfiguration(const std::vector<std::string>& signatures) {
  std::vector<std::string> args = {"remap", std::to_string(signatures.size())};
  args.insert(args.end(), signatures.begin(), signatures.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Configuration config;
  Configure(static_cast<int>(argv.size()), argv.data(), config);
  return config;
}

// A signature table of `count` entries, every component 0.
inline Configuration TableOf(int count) {
  Configuration config;
  config.count = count;
  for (auto* array : {&config.matchRed, &config.matchGreen, &config.matchBlue, &config.replaceRed,
                      &config.replaceGreen, &config.replaceBlue}) {
    array->reset(new std::int32_t[static_cast<std::size_t>(count)]());
  }
  return config;
}

// The remap rule in its plainest form: per pixel, per signature, three
// double-precision squares added red, green, blue; a strictly smaller
// distance wins.
inline void ReferenceRemap(std::uint8_t* pixels, std::uint64_t pixelCount,
                           const Configuration& config) {
  for (std::uint64_t k = 0; k < pixelCount; ++k) {
    std::uint8_t* p = pixels + 3 * k;
    std::size_t best = 0;
    double bestDistance = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(config.count); ++i) {
      const double dr = p[0] - config.matchRed[i];
      const double dg = p[1] - config.matchGreen[i];
      const double db = p[2] - config.matchBlue[i];
      const double d = dr * dr + dg * dg + db * db;
      if (i == 0 || d < bestDistance) {
        best = i;
        bestDistance = d;
      }
    }
    p[0] = static_cast<std::uint8_t>(config.replaceRed[best] & 0xFF);
    p[1] = static_cast<std::uint8_t>(config.replaceGreen[best] & 0xFF);
    p[2] = static_cast<std::uint8_t>(config.replaceBlue[best] & 0xFF);
  }
}

struct Run {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out, err;
  long peakKiB = 0;  // the child's peak resident memory
};

// How the child's standard streams are set up: a path to open, or closed.
struct Streams {
  std::string in = "/dev/null";
  std::string out;  // empty: captured into Run::out
  bool closeIn = false, closeOut = false, closeErr = false;
};

inline Streams StdinFrom(std::string path, std::string out = "", bool closeOut = false) {
  Streams streams;
  streams.in = std::move(path);
  streams.out = std::move(out);
  streams.closeOut = closeOut;
  return streams;
}

// Runs `program` with `args` in `dir`, standard error captured.
inline Run RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const ScratchDir& dir, const Streams& streams = {}) {
  const std::string outPath = dir / ".stdout", errPath = dir / ".stderr";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    const int in = open(streams.in.c_str(), O_RDONLY);
    const int out = open(streams.out.empty() ? outPath.c_str() : streams.out.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    close(in);
    close(out);
    close(err);
    if (streams.closeIn) close(0);
    if (streams.closeOut) close(1);
    if (streams.closeErr) close(2);
    alarm(60);  // a hang ends as a signal, which the caller sees as failure
    execv(program.c_str(), argv.data());
    _exit(127);
  }
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

}  // namespace test
