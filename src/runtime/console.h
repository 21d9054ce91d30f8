// The operator's console: coloured text at a screen position or at the cursor, and lines
// read from standard input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/text.h"

namespace ipmod {

// Colour codes as the dialogue passes them (not the console's own attribute bits).
enum ConsoleColour : int32_t {
  kBlack = 1,
  kRed,
  kGreen,
  kYellow,
  kBlue,
  kMagenta,
  kCyan,
  kWhite,
  kGrey,
  kBrightRed,
  kBrightGreen,
  kBrightYellow,
  kBrightBlue,
  kBrightMagenta,
  kBrightCyan,
  kBrightWhite,
};

// The console attribute word for a foreground and a background colour code. Only the low 16
// bits of each code count; an unknown code gives white (0x07 foreground, 0x70 background).
uint16_t ConsoleAttribute(int32_t foreground, int32_t background);

// The longest line ReadLine returns at once; the rest of a longer line stays for the next read.
constexpr int kLineLimit = 2048;

// Cuts a line as read (line feed included) at its end: from the last byte down to the
// second, every byte below 0x20 goes, up to the first that is not. The first byte always stays,
// so an empty line ("\n") stays "\n".
Text TrimLineEnd(const Text& line);

// The code page of the program's own texts.
constexpr uint32_t kProgramCodePage = 936;
// The system's ANSI code page, whichever it is (the platform's CP_ACP), for texts that come from
// the system, such as connection names.
constexpr uint32_t kSystemCodePage = 0;

// A text for the console: the program's own bytes (GBK) with pieces in other code pages, such as
// connection names (the system's) and what a command printed (the console's). Joined, the pieces
// are the bytes as they stand; only a console that does not show GBK needs to tell them apart.
class ConsoleText {
 public:
  struct Piece {
    Text bytes;
    uint32_t codePage;  // kProgramCodePage, kSystemCodePage or any other code page's number
  };

  ConsoleText() = default;
  ConsoleText(Text text);         // NOLINT: the program's own
  ConsoleText(const char* text);  // NOLINT: the program's own

  // Appends the program's own bytes, bytes in the system's code page, bytes in `codePage`, or
  // all pieces of another text.
  ConsoleText& Add(Text text) { return Add(std::move(text), kProgramCodePage); }
  ConsoleText& AddSystemText(Text text) { return Add(std::move(text), kSystemCodePage); }
  ConsoleText& Add(Text text, uint32_t codePage);
  ConsoleText& Add(const ConsoleText& text);

  Text Bytes() const;
  bool empty() const;
  const std::vector<Piece>& pieces() const { return pieces_; }

 private:
  std::vector<Piece> pieces_;
};

// A console input event, as far as the wait for a line looks at it.
struct InputEvent {
  bool key = false;        // a key event (not the mouse, a focus or size change)
  bool down = false;       // the key pressed, not let go
  char16_t character = 0;  // the character it types; 0 for Shift, Alt, the arrows and the like
};

// Whether the event begins a line: a key pressed that types a character (Enter and Backspace
// included).
bool BeginsALine(const InputEvent& event);

// The language of the program's own texts.
enum class Language { kChinese, kEnglish };

// What decides whether the console can draw Chinese.
struct ConsoleFacts {
  bool console = false;          // standard output is a console
  uint32_t codePage = 0;         // its output code page
  std::u16string fontFace;       // the face of its current font; empty when unknown
  bool windowsTerminal = false;  // a host that draws with font fallback (WT_SESSION is set)
};

// Chinese where the console can draw it: output that is no console (as ever), code page 936, an
// East Asian font face, or Windows Terminal; English anywhere else.
Language ChooseLanguage(const ConsoleFacts& facts);

class Console {
 public:
  virtual ~Console() = default;

  // Writes `text` ("%" is not special) in the given colours, at (column, row) of the screen
  // buffer when both are given, else at the cursor. restoreCursor puts the cursor back where it
  // was. The console's attribute is restored afterwards. A console in the program's code page
  // gets the bytes as they stand; any other is shown the characters they encode, each piece
  // read in its own code page, and keeps its settings. Returns true when every console call
  // succeeded; writes nothing when standard output is not a console.
  virtual bool WriteText(std::optional<int32_t> column, std::optional<int32_t> row,
                         bool restoreCursor, int32_t foreground, int32_t background,
                         const ConsoleText& text) = 0;

  // One line of standard input, at most kLineLimit bytes, cut by TrimLineEnd. An empty line
  // gives "\n"; a line holding a zero byte is the bytes before it (so the empty text when it
  // starts with one). Nothing at the end of input or after a read error: only then is there no
  // line. With echo = false the line is read keystroke by keystroke without echo.
  virtual std::optional<Text> ReadLine(std::optional<bool> echo = std::nullopt) = 0;

  // Waits at most that long for the operator to begin a line: true once a key that types a
  // character has been pressed (or standard input is no console, whose reads do not wait for a
  // person), false when the time is up. Every other event is taken from the input and let go.
  virtual bool WaitForInput(uint32_t milliseconds) = 0;

  // What the language of the dialogue is chosen by.
  virtual ConsoleFacts ReadConsoleFacts() = 0;
};

}  // namespace ipmod
