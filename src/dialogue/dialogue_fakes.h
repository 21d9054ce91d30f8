// Recording fakes of the dialogue's services, for its unit tests and its fuzz target. They
// never assert; what the dialogue should not have done goes to `misuse`.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "adapters/adapters.h"
#include "netconfig/netconfig.h"
#include "runtime/console.h"
#include "runtime/registry.h"

namespace ipmod {

struct Write {
  std::optional<int32_t> column;
  std::optional<int32_t> row;
  bool restoreCursor;
  int32_t foreground;
  int32_t background;
  Text text;
  Text systemText;  // the pieces in the system's code page, joined
  ConsoleText pieces;
};

// Plays the operator: answers reads from a script, then reports the end of input.
class RecordingConsole : public Console {
 public:
  explicit RecordingConsole(std::vector<Text> lines) : lines_(lines.begin(), lines.end()) {}

  bool WriteText(std::optional<int32_t> column, std::optional<int32_t> row, bool restoreCursor,
                 int32_t foreground, int32_t background, const ConsoleText& text) override {
    Text systemText;
    for (const ConsoleText::Piece& piece : text.pieces()) {
      if (piece.codePage == kSystemCodePage) systemText += piece.bytes;
    }
    writes.push_back(
        {column, row, restoreCursor, foreground, background, text.Bytes(), systemText, text});
    events.push_back("write " + text.Bytes());
    return true;
  }

  std::optional<Text> ReadLine(std::optional<bool> echo) override {
    if (echo.has_value()) misuse.push_back("ReadLine with an echo setting");
    ++reads;
    if (lines_.empty()) {
      // A dialogue that keeps asking after the end of input would never end.
      if (++readsAtEnd > 10) throw std::runtime_error("reading on after the end of input");
      events.push_back("read at end");
      return std::nullopt;
    }
    Text line = lines_.front();
    lines_.pop_front();
    events.push_back("read " + line);
    return line;
  }

  // Everything written, joined.
  Text Screen() const {
    Text all;
    for (const Write& w : writes) all += w.text;
    return all;
  }

  int Count(const Text& text) const {
    int n = 0;
    for (const Write& w : writes) n += w.text == text;
    return n;
  }

  std::vector<Write> writes;
  std::vector<std::string> events;
  std::vector<std::string> misuse;  // calls the dialogue should never make
  int reads = 0;
  int readsAtEnd = 0;

 private:
  std::deque<Text> lines_;
};

template <std::size_t N>
void Fill(std::array<unsigned char, N>& field, const char* text) {
  std::memcpy(field.data(), text, std::min(N, std::strlen(text)));
}

struct FakeAdapter {
  const char* guid;
  const char* name;  // nullptr: no name in the registry
  const char* ip;
};

class FakeAdapters : public AdapterSource, public RegistryReader {
 public:
  explicit FakeAdapters(std::vector<FakeAdapter> adapters) {
    uint32_t index = 1;
    for (const FakeAdapter& a : adapters) {
      AdapterNode node;
      Fill(node.AdapterName, a.guid);
      Fill(node.IpAddress, a.ip);
      node.Index = index++;
      nodes_.push_back(node);
      if (a.name) names_[ConnectionNamePath(a.guid)] = a.name;
    }
  }

  std::optional<std::vector<AdapterNode>> ReadAdapters() override { return nodes_; }
  std::optional<std::vector<AddressBytes>> ReadDnsServers(uint32_t) override {
    return std::nullopt;
  }
  Text ReadRegistryText(int32_t, const Text& path, std::optional<Text>) override {
    const auto found = names_.find(path);
    return found == names_.end() ? Text() : found->second;
  }

 private:
  std::vector<AdapterNode> nodes_;
  std::map<Text, Text> names_;
};

// Records every command and answers with a scripted run.
class FakeCommands : public CommandRunner {
 public:
  CapturedRun RunCaptured(const Text& command) override {
    captured.push_back(command);
    if (console) console->events.push_back("captured " + command);
    return reply;
  }
  bool RunProgram(const Text& commandLine, bool wait, std::optional<int32_t> showMode,
                  std::optional<uint32_t>* exitCode) override {
    started.push_back(commandLine);
    if (!wait) misuse.push_back("RunProgram without waiting: " + commandLine);
    if (showMode != 2) misuse.push_back("RunProgram not shown normally: " + commandLine);
    if (console) console->events.push_back("started " + commandLine);
    if (exitCode != nullptr) *exitCode = programExitCode;
    return programStarts;
  }

  CapturedRun reply{"", true, 0};
  bool programStarts = true;
  std::optional<uint32_t> programExitCode = 0;
  std::vector<Text> captured;
  std::vector<Text> started;
  std::vector<std::string> misuse;  // calls the dialogue should never make
  RecordingConsole* console = nullptr;
};

}  // namespace ipmod
