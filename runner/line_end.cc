#include "runner/line_end.h"

#include <cstdio>

const char* LineEnd = "\n";

void SetLineEnd(bool html) { LineEnd = html ? "<br>" : "\n"; }

void PrintLineEnd() {
  fputs(LineEnd, stdout);
  fflush(stdout);
}
