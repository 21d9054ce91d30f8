#include "runtime/console.h"

namespace ipmod {

namespace {

struct ColourValues {
  uint16_t foreground;
  uint16_t background;
};

// Indexed by colour code - 1; the dialogue's order is not the order of the attribute bits.
constexpr ColourValues kColourTable[] = {
    {0x00, 0x00},  // black
    {0x04, 0x40},  // red
    {0x02, 0x20},  // green
    {0x06, 0x60},  // yellow
    {0x01, 0x10},  // blue
    {0x05, 0x50},  // magenta
    {0x03, 0x30},  // cyan
    {0x07, 0x70},  // white
    {0x08, 0x80},  // grey
    {0x0C, 0xC0},  // bright red
    {0x0A, 0xA0},  // bright green
    {0x0E, 0xE0},  // bright yellow
    {0x09, 0x90},  // bright blue
    {0x0D, 0xD0},  // bright magenta
    {0x0B, 0xB0},  // bright cyan
    {0x0F, 0xF0},  // bright white
};
constexpr ColourValues kDefaultColour = {0x07, 0x70};

const ColourValues& ColourFor(int32_t code) {
  const uint32_t low = static_cast<uint32_t>(code) & 0xFFFFu;
  if (low >= 1 && low <= sizeof(kColourTable) / sizeof(kColourTable[0])) {
    return kColourTable[low - 1];
  }
  return kDefaultColour;
}

}  // namespace

uint16_t ConsoleAttribute(int32_t foreground, int32_t background) {
  return static_cast<uint16_t>(ColourFor(foreground).foreground | ColourFor(background).background);
}

// Out of line: the dialogue makes one of these for nearly every line it writes.
ConsoleText::ConsoleText(Text text) : pieces_{{std::move(text), kProgramCodePage}} {}
ConsoleText::ConsoleText(const char* text) : ConsoleText(Text(text)) {}

ConsoleText& ConsoleText::Add(Text text, uint32_t codePage) {
  pieces_.push_back({std::move(text), codePage});
  return *this;
}

ConsoleText& ConsoleText::Add(const ConsoleText& text) {
  pieces_.insert(pieces_.end(), text.pieces_.begin(), text.pieces_.end());
  return *this;
}

bool ConsoleText::empty() const {
  for (const Piece& piece : pieces_) {
    if (!piece.bytes.empty()) return false;
  }
  return true;
}

Text ConsoleText::Bytes() const {
  Text bytes;
  for (const Piece& piece : pieces_) bytes += piece.bytes;
  return bytes;
}

bool BeginsALine(const InputEvent& event) {
  return event.key && event.down && event.character != 0;
}

Text TrimLineEnd(const Text& line) {
  std::size_t end = line.size();
  // Bytes of 0x80 and above are not control bytes, so a double-byte character stays whole.
  while (end > 1 && static_cast<unsigned char>(line[end - 1]) < 0x20) --end;
  return line.substr(0, end);
}

namespace {

// Faces of the East Asian fonts that Windows consoles use: their English names, compared without
// case, and their own.
const char* const kEastAsianFaces[] = {
    "nsimsun",   "simsun",  "simhei", "microsoft yahei", "dengxian",
    "ms gothic", "mingliu", "gulim",  "malgun gothic",
};
const char16_t* const kEastAsianNativeFaces[] = {
    u"\u65B0\u5B8B\u4F53",       u"\u5B8B\u4F53", u"\u9ED1\u4F53",
    u"\u5FAE\u8F6F\u96C5\u9ED1", u"\u7B49\u7EBF", u"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF",
    u"\u7D30\u660E\u9AD4",       u"\uAD74\uB9BC",
};

template <typename Char>
bool SameFace(const std::u16string& face, const Char* name) {
  std::size_t i = 0;
  for (; i < face.size() && name[i] != 0; ++i) {
    const char16_t c = face[i] >= u'A' && face[i] <= u'Z' ? face[i] + 32 : face[i];
    if (c != static_cast<char16_t>(name[i])) return false;
  }
  return i == face.size() && name[i] == 0;
}

}  // namespace

Language ChooseLanguage(const ConsoleFacts& facts) {
  if (!facts.console || facts.codePage == kProgramCodePage || facts.windowsTerminal) {
    return Language::kChinese;
  }
  for (const char* face : kEastAsianFaces) {
    if (SameFace(facts.fontFace, face)) return Language::kChinese;
  }
  for (const char16_t* face : kEastAsianNativeFaces) {
    if (SameFace(facts.fontFace, face)) return Language::kChinese;
  }
  return Language::kEnglish;
}

}  // namespace ipmod
