// UlvexCmdLine: runs one Ulvex Task from the command line and turns the
// add-in's final report into the exit status.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "handoff/cache_cleanup.h"
#include "handoff/handoff_store.h"
#include "host/launch.h"
#include "host/office_options.h"
#include "option/option_table.h"
#include "option/parser.h"
#include "option/usage.h"
#include "runner/banner.h"
#include "platform/console.h"
#include "runner/echo.h"
#include "runner/line_end.h"
#include "runner/monitor.h"
#include "runner/progress_text.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kDefaultColumns = 80;

// Nothing in the run handles exhausted memory on its own: stop in order,
// with the failure status, rather than abort.
void OutOfMemory() {
  fflush(stdout);
  fputs("Out of memory\n", stdout);
  fflush(stdout);
  std::_Exit(kExitFailure);
}

// The C runtime's fwrite, named without its calling-convention attribute.
using FwriteFunction = size_t (*)(const void*, size_t, size_t, FILE*);

int UsageColumns() {
  const char* columns = getenv("COLUMNS");
  return columns != nullptr ? atoi(columns) : kDefaultColumns;
}

void PrintUsage() {
  option::PrintUsageImplementation::StreamWriter<FwriteFunction, FILE*>
      writer(&fwrite, stdout);
  option::writeUsage(writer, UsageColumns());
}

void PrintParseHints() {
  printf("%sUse /h parameter to display Ulvex command line help.%s"
         "Note : Parameter options are cAse sSnsItivE.%s",
         LineEnd, LineEnd, LineEnd);
}

void PrintMissingTaskId() {
  printf("%sUlvex TaskID was not specified%s%s"
         "Use /h parameter to display Ulvex command line help.%s",
         LineEnd, LineEnd, LineEnd, LineEnd);
}

bool SlotPresent(const std::vector<option::ParsedOption>& slots, int slot) {
  return slot < static_cast<int>(slots.size()) && slots[slot].spec != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::set_new_handler(OutOfMemory);

  const int count = argc > 0 ? argc - 1 : 0;
  const char** elements =
      count > 0 ? const_cast<const char**>(argv + 1) : nullptr;

  option::Stats stats;
  stats.tally(option::OptionTable, count, elements, 1);
  // Both arrays live until the process ends.
  std::vector<option::ParsedOption> slots(stats.slotCapacity);
  std::vector<option::ParsedOption> records(stats.recordCapacity);

  option::Parser parser;
  parser.fill(option::OptionTable, count, elements, slots.data(),
              records.data(), 1, -1);
  if (parser.failed) {
    PrintParseHints();
    return kExitFailure;
  }

  SetLineEnd(SlotPresent(slots, option::SlotHtml));
  PrintBanner();

  if (SlotPresent(slots, option::SlotHelp) || count == 0) {
    PrintUsage();
    if (count == 0) {
      printf("Press any key to exit...\n");
      FlushOutput();
      WaitForKeyPress();
    }
    return kExitFailure;
  }

  if (!SlotPresent(slots, option::SlotTaskId)) {
    PrintMissingTaskId();
    return kExitFailure;
  }

  EchoOptions(records.data(), parser.storedCount, parser.restCount,
              parser.restElements);

  SetOfficeOptions();
  SetCommandLineRegKey();
  ResetProgressRegKey();
  DeleteOfficeCaches();

  ExcelSession excel;
  if (!LaunchExcel(excel)) return kExitFailure;

  std::wstring finalText;
  if (!MonitorProgress(finalText)) return kExitFailure;

  ReleaseExcel(excel);
  return IsSuccessText(finalText) ? kExitSuccess : kExitFailure;
}
