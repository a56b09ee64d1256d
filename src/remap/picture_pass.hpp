// remap-palette's run over a whole picture: P6 or PNG in, P6 or PNG out, each
// pixel taken to its nearest colour plainly or dithered.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/picture_format.hpp"
#include "remap.hpp"
#include "remap/dither.hpp"

// The run once the table is prepared and the streams are open, for a picture
// in either format, P6 or PNG, told by its first byte, written in
// `outputFormat`, each pixel remapped as `dither` says (with `strength` for
// the ordered pattern, OrderedStrength's where it is below 0). A P6 picture
// is remapped or dithered part by part as it is read; P6 to P6 writes each
// part once it is ready, as RemapImage does. A PNG is read whole (its
// transparency and the chunks that decide how it looks set aside, to go out
// as they came into a PNG) and then remapped. A P6 written from a PNG has
// maxval 255; a PNG written from a P6 of another maxval has its samples
// scaled as `pamdepth 255` does. Returns 0, or 1 after the messages of the
// step that failed: a PNG reader's one message, or the P6 reader's and
// "Could not read image.", or the writer's and "Could not write output.".
// The streams stay open.
int RemapPicture(const PreparedTable& table, std::FILE* input, std::FILE* output,
                 PictureFormat outputFormat, DitherMethod dither = DitherMethod::kNone,
                 std::int32_t strength = -1);
