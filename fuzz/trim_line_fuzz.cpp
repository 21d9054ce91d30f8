// The line end cut of ReadLine: a prefix that keeps the first byte and ends in no control byte.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "runtime/console.h"

using namespace ipmod;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Text line(reinterpret_cast<const char*>(data), size);
  const Text cut = TrimLineEnd(line);
  FUZZ_CHECK(line.compare(0, cut.size(), cut) == 0);
  FUZZ_CHECK(cut.empty() == line.empty());
  for (std::size_t i = 1; i < line.size(); ++i) {
    // Only control bytes go, and only from the end.
    if (i >= cut.size()) FUZZ_CHECK(static_cast<unsigned char>(line[i]) < 0x20);
  }
  if (cut.size() > 1) FUZZ_CHECK(static_cast<unsigned char>(cut.back()) >= 0x20);
  FUZZ_CHECK(TrimLineEnd(cut) == cut);
  return 0;
}
