// Nearest-colour remapping: every pixel takes the replacement colour of the
// signature whose match colour is nearest to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "config/configuration.hpp"
#include "image/raster_pace.hpp"

inline constexpr char kCouldNotLoadConfiguration[] = "Could not load configuration. Usage.\n";
inline constexpr char kCouldNotReadImage[] = "Could not read image.\n";
inline constexpr char kCouldNotWriteOutput[] = "Could not write output.\n";

// The signature table prepared for the pass, and what releases it.
namespace remap {
struct Prepared;
class Pass;
struct ReleasePrepared {
  void operator()(Prepared* prepared) const;
};
}  // namespace remap
using PreparedTable = std::unique_ptr<remap::Prepared, remap::ReleasePrepared>;

// Prepares config's signatures (config.count >= 1) for RemapPixels. Returns
// null after writing "Could not allocate memory for signatures." to stderr
// when memory is short.
PreparedTable PrepareTable(const Configuration& config);

// Replaces each of the `pixelCount` RGB pixels in `pixels`, in place, by the
// replacement colour (low eight bits of each component) of the signature with
// the smallest squared RGB distance; ties go to the earliest signature. Uses
// the fastest kernel this build and processor have, on as many threads as
// the process may use; every kernel and every number of threads gives the
// same bytes. Allocates only what each thread's index of the colour cube
// needs, and does without the index where memory is short.
void RemapPixels(std::uint8_t* pixels, std::uint64_t pixelCount, const PreparedTable& table);

// The kernels: the plain loop (everywhere), AVX2 and AVX-512 with VNNI
// (x86-64, chosen at run time), NEON (aarch64).
enum class RemapKernel { kPortable, kAvx2, kAvx512, kNeon };
inline constexpr RemapKernel kFastestFirst[] = {RemapKernel::kAvx512, RemapKernel::kAvx2,
                                                RemapKernel::kNeon, RemapKernel::kPortable};

// "portable", "avx2", "avx512", "neon".
const char* KernelName(RemapKernel kernel);

// True when this build has the kernel and this processor can run it.
bool HasKernel(RemapKernel kernel);

// How blocks of pixels are searched: each unit of the picture the way its
// counts make cheapest (choice.hpp), or always one way: against every
// signature, against the union of the candidates of the block's cells of
// the colour cube (one cell's list where they all lie in one), each pixel
// against its own cell's, in cells of 16 or of 8 values a side, or each
// pixel as its colour was lately, the others against their cells of 8.
enum class SearchChoice {
  kCounted,
  kFull,
  kBlockUnion,
  kEachPixelLargeCells,
  kEachPixelSmallCells,
  kRemembering
};

// What a pass did, for tests and benchmarks: the pixels searched each way,
// in SearchChoice's order from kFull, and the threads it planned (the
// caller's included).
struct SearchStats {
  std::uint64_t pixels[5] = {};
  unsigned threads = 0;
};

// The sizes of the level 2 and 3 data caches the choice counts with; 0: as
// the system reports them.
struct CacheSizes {
  std::size_t level2 = 0, level3 = 0;
};

// For tests and benchmarks: RemapPixels on `config` with a chosen kernel,
// search and number of threads (0: as many as the process may use), the
// caches the choice assumes, and where to tell what the pass did. Returns
// false, touching nothing, when HasKernel(kernel) is false.
struct RemapOptions {
  SearchChoice search = SearchChoice::kCounted;
  unsigned threads = 0;
  SearchStats* stats = nullptr;
  CacheSizes caches = {};
};
bool RemapPixelsWith(RemapKernel kernel, std::uint8_t* pixels, std::uint64_t pixelCount,
                     const Configuration& config, RemapOptions options = {});

// RemapPixels while the raster moves: given to ReadImage, it remaps each part
// of the raster once it has arrived, on threads of its own where the process
// may use more than one CPU, else on the reader's thread between parts; given
// to WriteImage, it holds each part back until it is remapped. The bytes are
// RemapPixels's. `options` are for tests: the search and the number of
// threads (0: as many as the process may use). Destroying it returns once
// nothing of it touches the raster, so it must go before the raster does.
class RemapPass final : public RasterPace {
 public:
  explicit RemapPass(const PreparedTable& table, RemapOptions options = {});
  ~RemapPass() override;

  void Start(std::uint8_t* raster, std::uint64_t bytes) override;
  void Arrived(std::uint64_t bytes) override;
  void Abandon() override;
  // Asked at any time, it waits only for what has arrived: it returns once
  // the whole pixels among the first `bytes` that have arrived are remapped.
  void AwaitReady(std::uint64_t bytes) override;

 private:
  const PreparedTable& table_;
  RemapOptions options_;
  std::uint8_t* raster_ = nullptr;
  std::uint64_t bytes_ = 0;
  std::unique_ptr<remap::Pass> pass_;  // null where memory was short: all at the end
};

// The run once the table is prepared and the streams are open, for every
// program on the pass: reads a P6 image from `input`, remaps each part of the
// raster as it arrives (`options` as RemapPass takes them), and writes it to
// `output` as each part is ready.
// Returns 0, or 1 after the messages of the step that failed, the last
// "Could not read image." or "Could not write output.". The streams stay open.
int RemapImage(const PreparedTable& table, std::FILE* input, std::FILE* output,
               RemapOptions options = {});

// Returns once the old content of an -out file, let go while the run went on,
// is gone: true, or false after writing "Failed writing image data." and
// "Could not write output.". A run that failed otherwise asks too, after its
// own messages, so that an old file left whole is never passed over in
// silence.
bool OutputEmptied();
