// Fuzzes the usage printer over arbitrary help-text tables and widths.
// Input: two bytes of width, then help texts separated by 0xFF bytes; a
// help text "\x01" alone stands for a row with no help text (a table break).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "option/option_table.h"
#include "option/usage.h"

namespace {

class CollectingWriter : public option::PrintUsageImplementation::IStringWriter {
 public:
  void emit(const char* text, size_t byteCount) override {
    out.append(text, byteCount);
  }
  std::string out;
};

bool IsPlainAscii(const std::vector<std::string>& texts) {
  for (const std::string& text : texts)
    for (unsigned char c : text)
      if (c != '\n' && (c < 0x20 || c > 0x7E)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t columns = static_cast<int16_t>(data[0] | (data[1] << 8));
  std::vector<std::string> texts(1);
  for (size_t i = 2; i < size; ++i) {
    if (data[i] == 0xFF) {
      if (texts.size() >= 60) break;
      texts.emplace_back();
    } else if (data[i] != 0) {
      texts.back() += static_cast<char>(data[i]);
    }
  }

  std::vector<option::OptionSpec> table;
  for (const std::string& text : texts) {
    const bool noHelp = text == "\x01";
    table.push_back({0, 0, "", "x", option::acceptValue,
                     noHelp ? nullptr : text.c_str()});
  }
  table.push_back({0, 0, nullptr, nullptr, nullptr, nullptr});

  CollectingWriter writer;
  option::writeUsage(writer, table.data(), columns);

  // A table without tabs or cell lines is one wrapped column: no line may
  // be wider than the width (at least 2, so a wide character always fits).
  int32_t width = columns < 1 ? 80 : (columns > 10000 ? 10000 : columns);
  if (width < 2) width = 2;
  if (IsPlainAscii(texts)) {
    size_t lineLength = 0;
    for (char c : writer.out) {
      if (c == '\n') {
        lineLength = 0;
      } else if (++lineLength > static_cast<size_t>(width)) {
        fprintf(stderr, "line wider than %d\n", width);
        abort();
      }
    }
  }
  return 0;
}
