// Fuzzes the two-pass parse over arbitrary argument vectors. The input is
// split at NUL bytes into elements (so empty elements, lone prefixes, "="
// anywhere and bytes above 0x7F all occur).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "option/option_table.h"
#include "option/parser.h"

namespace {

constexpr size_t kMaxElements = 64;

bool PointsInto(const char* p, const std::vector<std::string>& elements) {
  if (p == nullptr) return true;
  for (const std::string& element : elements)
    if (p >= element.c_str() && p <= element.c_str() + element.size())
      return true;
  return false;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The storing pass prints its error messages; keep the fuzzer's output
  // readable.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> elements;
  std::string current;
  for (size_t i = 0; i < size && elements.size() < kMaxElements; ++i) {
    if (data[i] == 0) {
      elements.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (elements.size() < kMaxElements && size > 0) elements.push_back(current);

  std::vector<const char*> argv;
  for (const std::string& element : elements) argv.push_back(element.c_str());
  argv.push_back(nullptr);
  const int32_t count = static_cast<int32_t>(elements.size());
  const char** vector = argv.data();

  option::Stats stats;
  stats.tally(option::OptionTable, count, vector, 1);
  Check(stats.slotCapacity == 13, "slot capacity from the table");
  Check(stats.recordCapacity >= 1, "record capacity");
  std::vector<option::ParsedOption> slots(stats.slotCapacity);
  std::vector<option::ParsedOption> records(stats.recordCapacity);
  option::Parser parser;
  fflush(stderr);
  parser.fill(option::OptionTable, count, vector, slots.data(), records.data(),
              1, -1);

  // Both passes see the same options: the storing pass fills the array the
  // counting pass sized, leaving the spare record empty.
  if (!parser.failed)
    Check(parser.storedCount == stats.recordCapacity - 1, "passes agree");
  Check(parser.storedCount <= stats.recordCapacity - 1, "stored within size");
  Check(records[parser.storedCount].spec == nullptr, "spare record empty");

  if (parser.failed) Check(parser.restCount == 0, "no rest after failure");
  if (parser.restCount > 0) {
    Check(parser.restElements >= vector &&
              parser.restElements + parser.restCount == vector + count,
          "rest elements are the tail of the vector");
  } else {
    Check(parser.restCount == 0, "rest count not negative");
  }

  // Every record points into the argument vector, and the slot lists hold
  // exactly the stored records of their slot, in order.
  for (int32_t i = 0; i < parser.storedCount; ++i) {
    const option::ParsedOption& record = records[i];
    Check(record.spec != nullptr, "stored record has a row");
    Check(PointsInto(record.text, elements), "text inside argv");
    Check(PointsInto(record.value, elements), "value inside argv");
  }
  for (int32_t slot = 0; slot < stats.slotCapacity; ++slot) {
    std::vector<const option::ParsedOption*> expected;
    for (int32_t i = 0; i < parser.storedCount; ++i)
      if (records[i].spec->slot == slot) expected.push_back(&records[i]);
    Check(option::Count(slots[slot]) == static_cast<int32_t>(expected.size()),
          "slot list length");
    if (expected.empty()) continue;
    size_t index = 0;
    for (const option::ParsedOption* p = option::First(slots[slot]);
         p != nullptr; p = option::Next(*p), ++index) {
      Check(index < expected.size(), "slot list not longer than records");
      Check(p->text == expected[index]->text &&
                p->value == expected[index]->value,
            "slot list order");
    }
    Check(index == expected.size(), "slot list complete");
  }
  return 0;
}
