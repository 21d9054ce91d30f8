#include "netconfig/collect_output.h"

#include <algorithm>
#include <cstdint>

namespace ipmod {

namespace {

// Keeps one read within what a ByteBlock count can hold; the rest waits for the next read.
constexpr uint32_t kLargestRead = 1u << 20;

// Reads up to `count` waiting bytes into a fresh zero-filled block and appends them up to the
// first zero byte. Returns the number of bytes read.
uint32_t ReadPiece(OutputSource& source, uint32_t count, Text& collected) {
  ByteBlock block = MakeZeroBytes(static_cast<int32_t>(std::min(count, kLargestRead)));
  const uint32_t read = source.Read(block);
  // What BytesToText would take, appended straight from the block: the bytes past `read` are
  // still zero, so the piece ends at the first zero byte among those read.
  const auto end = block.begin() + std::min<std::size_t>(read, block.size());
  collected.append(block.begin(), std::find(block.begin(), end, 0));
  return read;
}

}  // namespace

Text CollectOutput(OutputSource& source) {
  Text collected;
  for (;;) {
    const uint32_t count = source.BytesWaiting();
    if (count > 0) {
      ReadPiece(source, count, collected);
    } else if (source.HasEnded()) {
      break;
    }
    source.Pause();
  }
  // What was written between the last empty peek and the end is still in the pipe. Only that
  // much is read: whatever the command left running in the background is not waited for.
  for (uint32_t left = source.BytesWaiting(); left > 0;) {
    const uint32_t read = ReadPiece(source, left, collected);
    if (read == 0) break;
    left -= std::min(read, left);
  }
  return collected;
}

}  // namespace ipmod
