// Bytes split at NUL into an argument vector and run through Configure and
// Deconfigure, inside a scratch folder: slashes in arguments become
// underscores, so "-in" and "-out" can only name files in that folder.
// A failure must write exactly one message line, a success none.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/configuration.hpp"
#include "fuzz_check.hpp"
#include "stderr_capture.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/remap-configure-fuzz-XXXXXX";
  FUZZ_CHECK(mkdtemp(folder) != nullptr && chdir(folder) == 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"remap"};
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == '\0') {
      args.push_back(current);
      current.clear();
    } else {
      current += data[i] == '/' ? '_' : static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());

  Configuration config;
  int result = -1;
  const std::string err = CaptureStderr(
      [&] { result = Configure(static_cast<int>(argv.size()), argv.data(), config); });
  if (result == 0) {
    FUZZ_CHECK(err.empty());
    FUZZ_CHECK(config.count >= 1 && config.input != nullptr && config.output != nullptr);
  } else {
    FUZZ_CHECK(result == 1);
    FUZZ_CHECK(OneMessageLine(err));
  }
  // Also after a failure, so that the fuzzer does not run out of descriptors.
  Deconfigure(config);
  // Keep the scratch folder small: drop whatever the options created.
  for (std::size_t i = 1; i < args.size(); ++i) unlink(args[i].c_str());
  return 0;
}
