// The command line turned into the signature table and the two image streams.
// Rejects a bad count, malformed signatures, unknown options and an output
// file that is also the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

inline constexpr char kMissingSignatureCount[] = "Missing signature count.\n";
inline constexpr char kBadSignatureCount[] = "Could not read number of signatures.\n";
inline constexpr char kSignatureCountBelowOne[] = "Number of signatures must be at least one.\n";
inline constexpr char kNotEnoughSignatures[] =
    "Not enough arguments for expected number of signatures.\n";
inline constexpr char kSignatureAllocationFailed[] = "Could not allocate memory for signatures.\n";
inline constexpr char kBadSignature[] = "Could not read signature.\n";
inline constexpr char kMissingInputPath[] = "Missing argument for -in.\n";
inline constexpr char kCannotOpenInput[] = "Could not open input file.\n";
inline constexpr char kMissingOutputPath[] = "Missing argument for -out.\n";
inline constexpr char kCannotOpenOutput[] = "Could not open output file.\n";
inline constexpr char kSameInputAndOutput[] = "Input and output are the same file.\n";
inline constexpr char kUnrecognizedOption[] = "Unrecognized option.\n";

// Everything the user asked for. Signature i is entry i of the six arrays, in
// command-line order; components are what "%02x" yields (-15 to 255).
struct Configuration {
  std::int32_t count = 0;
  std::unique_ptr<std::int32_t[]> matchRed;
  std::unique_ptr<std::int32_t[]> matchGreen;
  std::unique_ptr<std::int32_t[]> matchBlue;
  std::unique_ptr<std::int32_t[]> replaceRed;
  std::unique_ptr<std::int32_t[]> replaceGreen;
  std::unique_ptr<std::int32_t[]> replaceBlue;
  std::FILE* input = nullptr;
  std::FILE* output = nullptr;
};

// Fills `config` from the arguments (argv[0] is the program name): count,
// signatures, then "-in PATH" and "-out PATH" in any order and number, each
// file opened as its option is met ("-out" creates or empties its file).
// Returns 0, or 1 after writing one message to stderr; on failure whatever
// was already acquired stays in `config`.
int Configure(int argc, const char* const* argv, Configuration& config);

// Opens the streams that argv[first] to argv[argc - 1] ask for, as Configure
// does with the arguments after the signatures, into `config`'s input and
// output (standard input and output without them). Returns 0, or 1 after
// writing one message to stderr, the output file then left empty.
int ConfigureStreams(int argc, const char* const* argv, int first, Configuration& config);

// Releases what a successful Configure acquired: the arrays, and the streams
// opened from paths (standard input and output are left open). Close errors
// are ignored.
void Deconfigure(Configuration& config);
