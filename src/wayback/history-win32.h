// The history of earlier settings in its file beside the program (Windows only).
#pragma once

#include "wayback/history.h"

namespace ipmod {

// ipmod-history.txt in the folder of the program file. A merge holds the file open for writing
// with no other writer allowed, from its read to its write; a program that finds it held tries
// again for a few seconds.
class FileHistory final : public HistoryStore {
 public:
  Text Load() override;
  bool Add(HistoryRecord record, ConsoleText* why) override;
};

}  // namespace ipmod
