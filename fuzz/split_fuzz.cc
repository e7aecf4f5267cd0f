// Fuzzes the command-line splitter over arbitrary UTF-16 lines (two input
// bytes a code unit, so lone surrogates, NULs, quotes and backslashes all
// occur). Every argument must be valid UTF-8, and quoting the arguments
// the way the rules undo must give them back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "option/arguments.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

// Decodes valid UTF-8 to UTF-16; false on anything else (a surrogate's own
// encoding included, which the splitter must never produce).
bool Utf16FromUtf8(const std::string& text, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80    ? 1
                          : lead >= 0xF0 ? 4
                          : lead >= 0xE0 ? 3
                                         : 2;
    if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 ||
        i + length > text.size())
      return false;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return true;
}

// One argument quoted so that the rules give it back: backslashes are
// doubled before a quote and at the end, each quote is escaped.
std::string Quote(const std::string& argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string line;
  for (size_t i = 0; i + 1 < size; i += 2)
    line += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

  const std::vector<std::string> arguments = SplitCommandLine(line);
  Check(!arguments.empty(), "a program name");
  std::u16string units;
  for (const std::string& argument : arguments) {
    Check(Utf16FromUtf8(argument, units), "valid UTF-8");
    Check(units.size() <= line.size(), "no longer than the line");
    Check(units.find(u'\0') == std::u16string::npos, "no NUL");
  }

  std::string rebuilt = "prog";
  for (size_t i = 1; i < arguments.size(); ++i)
    rebuilt += " " + Quote(arguments[i]);
  Check(Utf16FromUtf8(rebuilt, units), "rebuilt line is valid UTF-8");
  std::vector<std::string> again = SplitCommandLine(units);
  again[0] = arguments[0];
  Check(again == arguments, "quoted arguments split back unchanged");
  return 0;
}
