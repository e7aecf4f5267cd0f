#include "runner/line_end.h"

const char* LineEnd = "\n";

void SetLineEnd(bool html) { LineEnd = html ? "<br>" : "\n"; }
