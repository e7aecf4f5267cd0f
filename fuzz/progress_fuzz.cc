// Fuzzes the reading of "Progress" data as the registry returns it: any
// byte count, odd counts, no NUL, embedded NULs. The data is copied into a
// buffer of exactly its size so that AddressSanitizer catches a read past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "handoff/progress_data.h"
#include "runner/progress_text.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[size ? size : 1]);
  if (size) memcpy(exact.get(), data, size);
  const std::wstring text = ProgressTextFromData(size ? exact.get() : nullptr, size);

  Check(text.size() <= size / 2, "text within the data");
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned unit = exact[2 * i] | (unsigned{exact[2 * i + 1]} << 8);
    Check(unit != 0, "no NUL inside the text");
    Check(static_cast<unsigned>(text[i]) == unit, "code units unchanged");
  }
  // The text ends at the first NUL unit or at the last whole unit.
  const size_t end = text.size();
  if (2 * end + 1 < size)
    Check(exact[2 * end] == 0 && exact[2 * end + 1] == 0, "stops at a NUL");

  // The protocol's decisions are total on any text.
  if (IsSuccessText(text)) Check(IsQuitText(text), "success is a QUIT text");
  DecideProgressOutput(text, std::wstring());
  return 0;
}
