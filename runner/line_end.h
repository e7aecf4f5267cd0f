// How the task runner ends its own lines: "\n", or "<br>" in HTML mode.
#pragma once

/// "\n" from start-up; set once after a successful parse.
extern const char* LineEnd;

/// Sets LineEnd for the run: "<br>" when html is true, "\n" otherwise.
void SetLineEnd(bool html);

/// Prints LineEnd and flushes: ends the line the run printed last.
void PrintLineEnd();
