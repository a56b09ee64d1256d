// Which format a picture comes in and goes out in: binary PPM (P6) or PNG.
// remap-palette reads either and writes either; remap stays with P6.
#pragma once

#include <cstdio>

enum class PictureFormat { kPpm, kPng };

// The format of the picture `input` is about to give, told by its first
// byte (PNG's signature starts with 0x89), which is left to be read.
// Anything but a PNG, an empty stream too, is read as P6, whose reader
// reports what is wrong with it.
PictureFormat PeekFormat(std::FILE* input);

// The format a run writes, from its "-in PATH" and "-out PATH" options
// (argv[first] to argv[argc - 1], the last "-out" counting, as it is the
// file written): PNG when the output's name ends in ".png", P6 when it ends
// in ".ppm" or ".pnm" (in any case), else, and on standard output, the
// input's format.
PictureFormat OutputFormat(int argc, const char* const* argv, int first, PictureFormat input);
