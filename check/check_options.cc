#include "check/check_options.h"

#include <vector>

#include "option/parsed_option.h"
#include "option/parser.h"

namespace check {

const option::OptionSpec CheckOptionTable[] = {
    {option::SlotNone, 0, "", "", option::rejectUnknown,
     "Checks whether an Ulvex Task can run here: as this account, in this "
     "session, with this installation. One line per check, what to do after "
     "each warning or failure. It changes nothing.\n\nUSAGE: UlvexCheck "
     "[options]\n\nOptions:"},
    {SlotHelp, 0, "h", "help", option::rejectValue,
     "  /h  \tDisplay this help."},
    {SlotJson, 0, "j", "json", option::rejectValue,
     "  /json  \tPrint one JSON object instead of the lines."},
    {SlotNoHost, 0, "n", "nohost", option::rejectValue,
     "  /nohost  \tSkip the checks that start Excel."},
    {option::SlotNone, 0, "", "", option::acceptValue,
     "\nExit status: 0 ready, 1 a check failed, 2 a switch error.\n"},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

namespace {

bool Present(const std::vector<option::ParsedOption>& slots, int32_t slot) {
  return slot < static_cast<int32_t>(slots.size()) &&
         slots[slot].spec != nullptr;
}

}  // namespace

CheckSwitches ParseCheckSwitches(int32_t count, const char** elements) {
  option::Stats stats;
  stats.tally(CheckOptionTable, count, elements, 1);
  std::vector<option::ParsedOption> slots(stats.slotCapacity);
  std::vector<option::ParsedOption> records(stats.recordCapacity);
  option::Parser parser;
  parser.fill(CheckOptionTable, count, elements, slots.data(), records.data(),
              1, -1);
  CheckSwitches switches;
  if (!parser.failed && parser.restCount > 0) {
    // The check takes no arguments of any other kind.
    option::ParsedOption rest{};
    rest.init(&CheckOptionTable[0], parser.restElements[0], nullptr);
    option::rejectUnknown(rest, true);
    parser.failed = true;
  }
  switches.failed = parser.failed;
  switches.help = Present(slots, SlotHelp);
  switches.json = Present(slots, SlotJson);
  switches.noHost = Present(slots, SlotNoHost);
  return switches;
}

}  // namespace check
