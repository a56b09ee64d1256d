// Netpbm images of every kind, held whole in memory, read for their colours:
// PBM, PGM and PPM, plain or raw, and PAM of one to four (or more) samples a
// pixel, maxval 1 to 65535, comments in the header. Refuses anything else
// with one sentence saying what was wrong; reads nothing past the first image.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// True when `bytes` start as a Netpbm image does: "P1" to "P7".
bool LooksLikeNetpbm(std::string_view bytes);

// Appends the colour of each pixel of the image in `bytes`, rows top to
// bottom, as 0xRRGGBB: samples scaled to 8 bits with rounding, as Netpbm's
// pamdepth 255 does, (v * 255 + maxval / 2) / maxval; a grey sample is a grey
// colour, PBM's 1 is black; samples after the third (alpha) are ignored.
// Returns true, or false with `problem` set to what was wrong ("the image
// ends early"); `colours` may then hold part of the image. Checks that the
// bytes can hold what the header promises before it reserves any memory.
bool ReadNetpbmColours(std::string_view bytes, std::vector<std::uint32_t>& colours,
                       std::string& problem);
