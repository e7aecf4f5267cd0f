#include "option/arguments.h"

namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kBackslash = u'\\';
constexpr char32_t kReplacement = 0xFFFD;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads a command line one code unit at a time, up to its end or its first
// NUL, as the C runtime reads the string it is given.
class LineReader {
 public:
  explicit LineReader(const std::u16string& line) : line_(line) {}
  bool AtEnd() const { return at_ >= line_.size() || line_[at_] == u'\0'; }
  char16_t Peek(size_t ahead = 0) const {
    const size_t at = at_ + ahead;
    return at < line_.size() ? line_[at] : u'\0';
  }
  void Skip() { ++at_; }

 private:
  const std::u16string& line_;
  size_t at_ = 0;
};

std::u16string ReadProgramName(LineReader& reader) {
  std::u16string name;
  if (reader.Peek() == kQuote) {
    reader.Skip();
    while (!reader.AtEnd() && reader.Peek() != kQuote) {
      name += reader.Peek();
      reader.Skip();
    }
    if (!reader.AtEnd()) reader.Skip();  // the closing quote
    return name;
  }
  while (!reader.AtEnd() && !IsBlank(reader.Peek())) {
    name += reader.Peek();
    reader.Skip();
  }
  return name;
}

// One argument; the reader stands on its first character.
std::u16string ReadArgument(LineReader& reader) {
  std::u16string argument;
  bool quoted = false;
  for (;;) {
    size_t backslashes = 0;
    while (reader.Peek() == kBackslash) {
      reader.Skip();
      ++backslashes;
    }
    bool literal = true;
    if (!reader.AtEnd() && reader.Peek() == kQuote) {
      if (backslashes % 2 == 0) {
        // NOTE: msvcrt.dll reads "" inside a quoted part as one literal
        // quote that also closes the part (later runtimes stay inside).
        if (quoted && reader.Peek(1) == kQuote)
          reader.Skip();
        else
          literal = false;
        quoted = !quoted;
      }
      backslashes /= 2;
    }
    argument.append(backslashes, kBackslash);
    if (reader.AtEnd() || (!quoted && IsBlank(reader.Peek()))) return argument;
    if (literal) argument += reader.Peek();
    reader.Skip();
  }
}

}  // namespace

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      const char32_t code = 0x10000 + ((char32_t{unit} - 0xD800) << 10) +
                            (char32_t{text[i + 1]} - 0xDC00);
      AppendUtf8(out, code);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::vector<std::string> SplitCommandLine(const std::u16string& line) {
  LineReader reader(line);
  std::vector<std::string> arguments;
  arguments.push_back(Utf8FromUtf16(ReadProgramName(reader)));
  for (;;) {
    while (!reader.AtEnd() && IsBlank(reader.Peek())) reader.Skip();
    if (reader.AtEnd()) return arguments;
    arguments.push_back(Utf8FromUtf16(ReadArgument(reader)));
  }
}

std::vector<const char*> ElementsAfterProgramName(
    const std::vector<std::string>& arguments) {
  std::vector<const char*> elements;
  for (size_t i = 1; i < arguments.size(); ++i)
    elements.push_back(arguments[i].c_str());
  return elements;
}
