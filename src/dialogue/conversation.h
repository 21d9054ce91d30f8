// What the steps of the dialogue share: its services, the language the console can show, and
// the lines said to the operator and asked of them. Internal to the dialogue.
#pragma once

#include <cstdint>
#include <optional>

#include "adapters/connection_settings.h"
#include "dialogue/dialogue.h"

namespace ipmod {

// Every write of the dialogue is on black; prompts and messages continue at the cursor
// (a column without a row is no position).
constexpr int32_t kPromptColumn = 2;

class Conversation {
 public:
  explicit Conversation(const DialogueServices& services)
      : services(services), language(ChooseLanguage(services.console.ReadConsoleFacts())) {}

  void Say(int32_t foreground, const ConsoleText& text) {
    services.console.WriteText(kPromptColumn, std::nullopt, false, foreground, kBlack, text);
  }

  // The next line, or nothing once standard input has ended: from then on the dialogue asks
  // nothing more and runs no command. A line entered moves a guard's deadline while one is on.
  std::optional<Text> Ask() {
    std::optional<Text> line = services.console.ReadLine();
    if (line && guarded) services.guard.Postpone();
    return line;
  }

  ConnectionSettings ReadSettings(const AdapterRecord& entry) {
    return ReadConnectionSettings(services.adapters, services.registry, entry.AdapterName);
  }

  // The signs of waiting for the live state to follow (WaitSigns): the sign, then a mark for
  // each read again; End ends their line where any was shown.
  class Waiting {
   public:
    explicit Waiting(Conversation& conversation) : conversation_(conversation) {}
    void operator()(bool first) {
      waited_ = true;
      conversation_.Say(kYellow, first ? conversation_.WaitingSign() : ".");
    }
    void End() {
      if (waited_) conversation_.Say(kYellow, "\r\n");
    }

   private:
    Conversation& conversation_;
    bool waited_ = false;
  };

  const DialogueServices& services;
  const Language language;
  // Whether a guard is on: the way back's steps start and end it.
  bool guarded = false;

 private:
  const char* WaitingSign() const {
    return language == Language::kChinese ? "正在等待设置生效"
                                          : "Waiting for the setting to take effect";
  }
};

}  // namespace ipmod
