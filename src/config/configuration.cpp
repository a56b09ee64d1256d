// Turns the command line into a Configuration: count, signatures, options.
#include "config/configuration.hpp"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "message.hpp"
#include "platform/platform.hpp"

namespace {

// Reads a signature count the way "%d" does (leading whitespace, optional
// sign, digits, anything after ignored), but refuses values that do not fit
// in 32 bits instead of wrapping them.
bool ParseCount(const char* text, std::int32_t& count) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  const std::int64_t limit = std::int64_t{INT32_MAX} + (negative ? 1 : 0);
  std::int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) return false;
  }
  count = static_cast<std::int32_t>(negative ? -value : value);
  return true;
}

// The value of a hex digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(c | 0x20);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Reads the usual form, exactly "#rrggbb:#rrggbb" with twelve hex digits
// (anything after ignored), as the sscanf format below reads it, in a
// fraction of the time: thousands of signatures took longer to read than a
// small picture to remap.
bool ParseUsualSignature(const char* text, unsigned int* c) {
  static const char kForm[] = "#hhhhhh:#hhhhhh";
  int digits = 0;
  for (int k = 0; kForm[k] != '\0'; ++k) {
    if (kForm[k] != 'h') {
      if (text[k] != kForm[k]) return false;
      continue;
    }
    const int value = HexDigit(text[k]);
    if (value < 0) return false;
    c[digits / 2] = digits % 2 == 0 ? static_cast<unsigned int>(value) << 4
                                    : c[digits / 2] | static_cast<unsigned int>(value);
    ++digits;
  }
  return true;
}

// Reads "#rrggbb:#rrggbb" into signature i. Each component takes at most two
// hex digits; anything after the sixth is ignored.
bool ParseSignature(const char* text, Configuration& config, std::size_t i) {
  unsigned int c[6];
  if (!ParseUsualSignature(text, c) && std::sscanf(text, "#%02x%02x%02x:#%02x%02x%02x", &c[0],
                                                   &c[1], &c[2], &c[3], &c[4], &c[5]) != 6) {
    return false;
  }
  config.matchRed[i] = static_cast<std::int32_t>(c[0]);
  config.matchGreen[i] = static_cast<std::int32_t>(c[1]);
  config.matchBlue[i] = static_cast<std::int32_t>(c[2]);
  config.replaceRed[i] = static_cast<std::int32_t>(c[3]);
  config.replaceGreen[i] = static_cast<std::int32_t>(c[4]);
  config.replaceBlue[i] = static_cast<std::int32_t>(c[5]);
  return true;
}

// One step of the walk over the option area: "-in PATH", "-out PATH", or
// anything else. `path` is null when the option is the last argument.
struct Option {
  enum Kind { kInput, kOutput, kOther } kind;
  const char* path;
  int next;  // where the walk goes on
};

Option OptionAt(int argc, const char* const* argv, int i) {
  const Option::Kind kind = std::strcmp(argv[i], "-in") == 0    ? Option::kInput
                            : std::strcmp(argv[i], "-out") == 0 ? Option::kOutput
                                                                : Option::kOther;
  if (kind == Option::kOther) return {kind, nullptr, i + 1};
  if (i + 1 == argc) return {kind, nullptr, argc};
  return {kind, argv[i + 1], i + 2};
}

// True when `path` is an existing regular file that the run also reads: a
// file named after any "-in" in the option area (read or not, so that the
// answer does not depend on which option fails first) or, when there is
// none, standard input. Opening it for writing would empty the image before
// it is read.
bool WouldOverwriteInput(const char* path, int argc, const char* const* argv, int first) {
  platform::FileIdentity target, input;
  if (!platform::RegularFileAt(path, target)) return false;
  bool anyInput = false;
  for (int i = first; i < argc;) {
    const Option option = OptionAt(argc, argv, i);
    if (option.kind == Option::kInput && option.path != nullptr) {
      anyInput = true;
      if (platform::RegularFileAt(option.path, input) && input == target) return true;
    }
    i = option.next;
  }
  return !anyInput && platform::RegularFileOf(stdin, input) && input == target;
}

// True when the image would go to an inherited standard output that is the
// regular file it is read from (`>>image` or `1<>image` in a shell): writing
// would append to it or overwrite it while it is read. Pipes, terminals and
// devices are not files that can be damaged so.
bool WritesIntoInput(const Configuration& config) {
  platform::FileIdentity output, input;
  return config.output == stdout && platform::RegularFileOf(stdout, output) &&
         platform::RegularFileOf(config.input, input) && input == output;
}

// Makes `opened` the stream in `slot`, closing one an earlier option opened.
void Replace(std::FILE*& slot, std::FILE* standard, std::FILE* opened) {
  if (slot != nullptr && slot != standard) std::fclose(slot);
  slot = opened;
}

// Opens the streams the options name, in order, each replacing the one
// before; an output file's old content goes while the run goes on. Returns
// 0, or 1 after one message.
int OpenStreams(int argc, const char* const* argv, int first, Configuration& config) {
  config.input = stdin;
  config.output = stdout;
  for (int i = first; i < argc;) {
    const Option option = OptionAt(argc, argv, i);
    if (option.kind == Option::kInput) {
      if (option.path == nullptr) return Fail(kMissingInputPath);
      std::FILE* input = platform::OpenFile(option.path, "rb");
      if (input == nullptr) return Fail(kCannotOpenInput);
      Replace(config.input, stdin, input);
    } else if (option.kind == Option::kOutput) {
      if (option.path == nullptr) return Fail(kMissingOutputPath);
      if (WouldOverwriteInput(option.path, argc, argv, first)) return Fail(kSameInputAndOutput);
      std::FILE* output = platform::OpenOutputFile(option.path);
      if (output == nullptr) return Fail(kCannotOpenOutput);
      Replace(config.output, stdout, output);
    } else {
      return Fail(kUnrecognizedOption);
    }
    i = option.next;
  }
  if (WritesIntoInput(config)) return Fail(kSameInputAndOutput);
  return 0;
}

}  // namespace

int Configure(int argc, const char* const* argv, Configuration& config) {
  if (argc < 2) return Fail(kMissingSignatureCount);
  if (!ParseCount(argv[1], config.count)) return Fail(kBadSignatureCount);
  if (config.count < 1) return Fail(kSignatureCountBelowOne);
  if (config.count > argc - 2) return Fail(kNotEnoughSignatures);

  const auto count = static_cast<std::size_t>(config.count);
  for (std::unique_ptr<std::int32_t[]>* array :
       {&config.matchRed, &config.matchGreen, &config.matchBlue, &config.replaceRed,
        &config.replaceGreen, &config.replaceBlue}) {
    array->reset(new (std::nothrow) std::int32_t[count]);
    if (!*array) return Fail(kSignatureAllocationFailed);
  }
  for (std::int32_t i = 0; i < config.count; ++i) {
    if (!ParseSignature(argv[i + 2], config, static_cast<std::size_t>(i))) {
      return Fail(kBadSignature);
    }
  }

  return ConfigureStreams(argc, argv, config.count + 2, config);
}

int ConfigureStreams(int argc, const char* const* argv, int first, Configuration& config) {
  // A run that fails leaves the output file empty, as a shell redirection would.
  if (OpenStreams(argc, argv, first, config) != 0) {
    platform::AwaitEmptied();
    return 1;
  }
  return 0;
}

void Deconfigure(Configuration& config) {
  for (std::unique_ptr<std::int32_t[]>* array :
       {&config.matchRed, &config.matchGreen, &config.matchBlue, &config.replaceRed,
        &config.replaceGreen, &config.replaceBlue}) {
    array->reset();
  }
  if (config.input != nullptr && config.input != stdin) std::fclose(config.input);
  if (config.output != nullptr && config.output != stdout) std::fclose(config.output);
  config.input = nullptr;
  config.output = nullptr;
}
