// The program's help screen as users see it at each width class, one
// literal per printed line (trailing spaces included). Shared by the
// layout's unit tests and the system tests of the real program.
#pragma once

#include <initializer_list>
#include <string>

namespace ulvex_test {

inline std::string Spaces(int count) { return std::string(count, ' '); }

/// The lines, each ended by "\n".
inline std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) (text += line) += '\n';
  return text;
}

// Screen images: each line stays one literal.
// clang-format off
// The program's help screen at 80 columns: the first column is 21 wide,
// descriptions wrap at 59 columns, and the table stops after 23 rows (at
// p7, so p4 to p7 are the four empty lines at the end).
inline const std::string kUsageAt80 = Lines({
    "Command line switches are cAsE sEnSiTive",
    "",
    "An Ulvex Task can be fully automated; not requiring any user interaction (such",
    "as a scheduled task), or be part-automated; where the application will wait for",
    "further user interaction.The behaviour is determined by the following command",
    "line switches:",
    "",
    "Options:",
    "USAGE: UlvexCmdLine [options]",
    "",
    "Options:",
    "  /h                 Display command line help.",
    "  /taskid=<task ID>  The unique Task ID (located on Ulvex Task",
    "                     configuration'Task File & Sharing' tab).",
    "  /auto              Automate the entire task and exit, if possbile.",
    "  /html              Output task results in HTML format.",
    "  /dataload          Load the data if specified task parameters are valid. Not",
    "                     required if there are no task parameters or with /auto",
    "  /validate          Validate the data, if possbile. Not required with /auto,",
    "                     implies /load.",
    "  /send              Send the data, if possbile. Not required with /auto,",
    "                     implies /load and /validate",
    "  /quitok            Quit if task completed OK.  Not required with /auto.",
    "  /p1[=<arg>]        Task parameter 1 : takes an argument but allows blank.",
    "  /p2[=<arg>]        Task parameter 2 : takes an argument but allows blank.",
    "  /p3[=<arg>]        Task parameter 3 etc .. up to 30 (current paramter limit).",
    "",
    "",
    "",
    "",
});

// At 40 columns the descriptions get lines of their own (indent 10, width
// 30); the first column is still padded to its tab stop (21).
inline const std::string kUsageAt40 = Lines({
    "Command line switches are cAsE sEnSiTive",
    "",
    "An Ulvex Task can be fully automated;",
    "not requiring any user interaction (such",
    "as a scheduled task), or be",
    "part-automated; where the application",
    "will wait for further user",
    "interaction.The behaviour is determined",
    "by the following command line switches:",
    "",
    "Options:",
    "USAGE: UlvexCmdLine [options]",
    "",
    "Options:",
    "  /h                 ",
    "          Display command line help.",
    "  /taskid=<task ID>  ",
    "          The unique Task ID (located on",
    "          Ulvex Task configuration'Task",
    "          File & Sharing' tab).",
    "  /auto              ",
    "          Automate the entire task and",
    "          exit, if possbile.",
    "  /html              ",
    "          Output task results in HTML",
    "          format.",
    "  /dataload          ",
    "          Load the data if specified",
    "          task parameters are valid. Not",
    "          required if there are no task",
    "          parameters or with /auto",
    "  /validate          ",
    "          Validate the data, if",
    "          possbile. Not required with",
    "          /auto, implies /load.",
    "  /send              ",
    "          Send the data, if possbile.",
    "          Not required with /auto,",
    "          implies /load and /validate",
    "  /quitok            ",
    "          Quit if task completed OK. ",
    "          Not required with /auto.",
    "  /p1[=<arg>]        ",
    "          Task parameter 1 : takes an",
    "          argument but allows blank.",
    "  /p2[=<arg>]        ",
    "          Task parameter 2 : takes an",
    "          argument but allows blank.",
    "  /p3[=<arg>]        ",
    "          Task parameter 3 etc .. up to",
    "          30 (current paramter limit).",
    "",
    "",
    "",
    "",
});

// At 20 columns the taskid switch (21 wide) is measured out: the first
// column is 15 wide, descriptions go on lines of their own (indent 5, width
// 15), and the taskid row breaks before its held-back description.
inline const std::string kUsageAt20 = Lines({
    "Command line",
    "switches are cAsE",
    "sEnSiTive",
    "",
    "An Ulvex Task can be",
    "fully automated; not",
    "requiring any user",
    "interaction (such as",
    "a scheduled task),",
    "or be",
    "part-automated;",
    "where the",
    "application will",
    "wait for further",
    "user interaction.The",
    "behaviour is",
    "determined by the",
    "following command",
    "line switches:",
    "",
    "Options:",
    "USAGE: UlvexCmdLine",
    "[options]",
    "",
    "Options:",
    "  /h           ",
    "     Display command",
    "     line help.",
    "  /taskid=<task ID>  ",
    "               ",
    "     The unique Task",
    "     ID (located on",
    "     Ulvex Task",
    "     configuration'T",
    "     ask File &",
    "     Sharing' tab).",
    "  /auto        ",
    "     Automate the",
    "     entire task and",
    "     exit, if",
    "     possbile.",
    "  /html        ",
    "     Output task",
    "     results in HTML",
    "     format.",
    "  /dataload    ",
    "     Load the data",
    "     if specified",
    "     task parameters",
    "     are valid. Not",
    "     required if",
    "     there are no",
    "     task parameters",
    "     or with /auto",
    "  /validate    ",
    "     Validate the",
    "     data, if",
    "     possbile. Not",
    "     required with",
    "     /auto, implies",
    "     /load.",
    "  /send        ",
    "     Send the data,",
    "     if possbile.",
    "     Not required",
    "     with /auto,",
    "     implies /load",
    "     and /validate",
    "  /quitok      ",
    "     Quit if task",
    "     completed OK. ",
    "     Not required",
    "     with /auto.",
    "  /p1[=<arg>]  ",
    "     Task parameter",
    "     1 : takes an",
    "     argument but",
    "     allows blank.",
    "  /p2[=<arg>]  ",
    "     Task parameter",
    "     2 : takes an",
    "     argument but",
    "     allows blank.",
    "  /p3[=<arg>]  ",
    "     Task parameter",
    "     3 etc .. up to",
    "     30 (current",
    "     paramter",
    "     limit).",
    "",
    "",
    "",
    "",
});

// At the widest layout (10000 columns) nothing wraps. Long lines are split
// into adjacent literals here only.
inline const std::string kUsageAt10000 = Lines({
    "Command line switches are cAsE sEnSiTive",
    "",
    "An Ulvex Task can be fully automated; not requiring any user interaction "
    "(such as a scheduled task), or be part-automated; where the application "
    "will wait for further user interaction.The behaviour is determined by the "
    "following command line switches:",
    "",
    "Options:",
    "USAGE: UlvexCmdLine [options]",
    "",
    "Options:",
    "  /h                 Display command line help.",
    "  /taskid=<task ID>  "
    "The unique Task ID (located on Ulvex Task configuration'Task "
    "File & Sharing' tab).",
    "  /auto              Automate the entire task and exit, if possbile.",
    "  /html              Output task results in HTML format.",
    "  /dataload          "
    "Load the data if specified task parameters are valid. Not "
    "required if there are no task parameters or with /auto",
    "  /validate          "
    "Validate the data, if possbile. Not required with /auto, implies /load.",
    "  /send              "
    "Send the data, if possbile. Not required with /auto, implies "
    "/load and /validate",
    "  /quitok            Quit if task completed OK.  Not required with /auto.",
    "  /p1[=<arg>]        Task parameter 1 : takes an argument but allows blank.",
    "  /p2[=<arg>]        Task parameter 2 : takes an argument but allows blank.",
    "  /p3[=<arg>]        Task parameter 3 etc .. up to 30 (current paramter limit).",
    "",
    "",
    "",
    "",
});
// clang-format on

}  // namespace ulvex_test
