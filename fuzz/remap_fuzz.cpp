// Bytes made into a signature table and a picture; every kernel this
// processor has must give the plain double-precision rule's bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.hpp"
#include "remap.hpp"
#include "remap_reference.hpp"
#include "stderr_capture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 13) return 0;
  const int count = 1 + data[0] % 64;
  if (size < 1 + static_cast<std::size_t>(count) * 12) return 0;
  Configuration config = reference::TableOf(count);
  std::unique_ptr<std::int32_t[]>* arrays[] = {&config.matchRed,     &config.matchGreen,
                                               &config.matchBlue,    &config.replaceRed,
                                               &config.replaceGreen, &config.replaceBlue};
  const std::uint8_t* p = data + 1;
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    for (auto* array : arrays) {
      // Components from -15 to 255, the whole range a signature can hold.
      (*array)[i] = (p[0] << 8 | p[1]) % 271 - 15;
      p += 2;
    }
  }
  const std::size_t pixelCount = static_cast<std::size_t>(data + size - p) / 3;
  std::vector<std::uint8_t> expected(p, p + pixelCount * 3);
  reference::ReferenceRemap(expected.data(), pixelCount, config);
  for (RemapKernel kernel : kFastestFirst) {
    std::vector<std::uint8_t> actual(p, p + pixelCount * 3);
    if (RemapPixelsWith(kernel, actual.data(), pixelCount, config)) {
      FUZZ_CHECK(actual == expected);
    }
  }
  return 0;
}
