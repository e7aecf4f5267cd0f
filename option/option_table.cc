#include "option/option_table.h"

#include <cstdio>
#include <cstring>

#include "option/parsed_option.h"

namespace option {

namespace {

void WritePlain(MessageStream stream, const char* text) {
  FILE* file = stream == MessageStream::Output ? stdout : stderr;
  fputs(text, file);
  fflush(file);
}

MessageWriter messageWriter = WritePlain;

// The quoted option goes to standard output and the pieces around it to
// standard error, as users of the program have always seen it. Each piece
// is flushed as it is written: a redirected stderr is buffered too, and
// when both streams share one console, file or pipe ("> log 2>&1") only
// flushing keeps the three pieces in order.
void PrintSplitMessage(const char* before, const char* text,
                       const char* after) {
  fflush(stdout);
  messageWriter(MessageStream::Error, before);
  messageWriter(MessageStream::Output, text ? text : "");
  messageWriter(MessageStream::Error, after);
}

}  // namespace

void SetMessageWriter(MessageWriter writer) {
  messageWriter = writer != nullptr ? writer : WritePlain;
}

ArgVerdict rejectUnknown(const ParsedOption& candidate, bool printErrors) {
  if (printErrors) PrintSplitMessage("Unknown option '", candidate.text, "'\n");
  return Rejected;
}

ArgVerdict acceptValue(const ParsedOption&, bool) { return Accepted; }

ArgVerdict requireValue(const ParsedOption& candidate, bool printErrors) {
  if (candidate.value != nullptr) return Accepted;
  if (printErrors)
    PrintSplitMessage("Option '", candidate.text, "' requires an argument\n");
  return Rejected;
}

ArgVerdict rejectValue(const ParsedOption& candidate, bool printErrors) {
  const char* text = candidate.text != nullptr ? candidate.text : "";
  if (strchr(text, '=') == nullptr) return NoValue;
  if (printErrors)
    PrintSplitMessage("Option '", candidate.text, "' does not take a value\n");
  return Rejected;
}

// Rows 13 to 39 are the parameters p4 to p30: no help text of their own.
#define ULVEX_PARAMETER_ROW(n) \
  { SlotParameter, 0, #n, "p" #n, acceptValue, "" }

const OptionSpec OptionTable[] = {
    {SlotNone, 0, "", "", rejectUnknown,
     "Command line switches are cAsE sEnSiTive\n\nAn Ulvex Task can be fully "
     "automated; not requiring any user interaction (such as a scheduled "
     "task), or be part-automated; where the application will wait for "
     "further user interaction.The behaviour is determined by the following "
     "command line switches:\n\nOptions:"},
    {SlotNone, 0, "", "", rejectUnknown,
     "USAGE: UlvexCmdLine [options]\n\nOptions:"},
    {SlotHelp, 0, "h", "help", acceptValue,
     "  /h  \tDisplay command line help."},
    {SlotTaskId, 0, "t", "taskid", requireValue,
     "  /taskid=<task ID>  \tThe unique Task ID (located on Ulvex Task "
     "configuration'Task File & Sharing' tab)."},
    {SlotAuto, 0, "a", "auto", acceptValue,
     "  /auto  \tAutomate the entire task and exit, if possbile."},
    {SlotHtml, 0, "a", "html", acceptValue,
     "  /html  \tOutput task results in HTML format."},
    {SlotDataLoad, 0, "d", "dataload", acceptValue,
     "  /dataload  \tLoad the data if specified task parameters are valid. "
     "Not required if there are no task parameters or with /auto"},
    {SlotValidate, 0, "v", "validate", acceptValue,
     "  /validate  \tValidate the data, if possbile. Not required with /auto, "
     "implies /load."},
    {SlotSend, 0, "s", "send", acceptValue,
     "  /send  \tSend the data, if possbile. Not required with /auto, implies "
     "/load and /validate"},
    {SlotQuitOk, 0, "q", "quitok", acceptValue,
     "  /quitok  \tQuit if task completed OK.  Not required with /auto."},
    {SlotParameter, 0, "1", "p1", acceptValue,
     "  /p1[=<arg>]  \tTask parameter 1 : takes an argument but allows blank."},
    {SlotParameter, 0, "2", "p2", acceptValue,
     "  /p2[=<arg>]  \tTask parameter 2 : takes an argument but allows blank."},
    {SlotParameter, 0, "3", "p3", acceptValue,
     "  /p3[=<arg>]  \tTask parameter 3 etc .. up to 30 (current paramter "
     "limit)."},
    ULVEX_PARAMETER_ROW(4),
    ULVEX_PARAMETER_ROW(5),
    ULVEX_PARAMETER_ROW(6),
    ULVEX_PARAMETER_ROW(7),
    ULVEX_PARAMETER_ROW(8),
    ULVEX_PARAMETER_ROW(9),
    ULVEX_PARAMETER_ROW(10),
    ULVEX_PARAMETER_ROW(11),
    ULVEX_PARAMETER_ROW(12),
    ULVEX_PARAMETER_ROW(13),
    ULVEX_PARAMETER_ROW(14),
    ULVEX_PARAMETER_ROW(15),
    ULVEX_PARAMETER_ROW(16),
    ULVEX_PARAMETER_ROW(17),
    ULVEX_PARAMETER_ROW(18),
    ULVEX_PARAMETER_ROW(19),
    ULVEX_PARAMETER_ROW(20),
    ULVEX_PARAMETER_ROW(21),
    ULVEX_PARAMETER_ROW(22),
    ULVEX_PARAMETER_ROW(23),
    ULVEX_PARAMETER_ROW(24),
    ULVEX_PARAMETER_ROW(25),
    ULVEX_PARAMETER_ROW(26),
    ULVEX_PARAMETER_ROW(27),
    ULVEX_PARAMETER_ROW(28),
    ULVEX_PARAMETER_ROW(29),
    ULVEX_PARAMETER_ROW(30),
    {SlotNone, 0, "", "", acceptValue,
     "Note : Parameter options are case sensitive.\n"},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

#undef ULVEX_PARAMETER_ROW

static_assert(sizeof(OptionTable) / sizeof(OptionTable[0]) == kOptionTableRows,
              "41 rows and the end row");

}  // namespace option
