// STUB: replaced by the real implementation.
#include "option/parser.h"
namespace option {
void ParsedOption::init(const OptionSpec* s, const char* t, const char* v) { spec = s; text = t; value = v; nextLink = prevLink = this; nameLength = 0; }
void Parser::fill(const OptionSpec*, int32_t, const char**, ParsedOption*, ParsedOption*, int32_t, int32_t) {}
void Stats::tally(const OptionSpec*, int32_t, const char**, int32_t) { slotCapacity = 13; }
bool scanArguments(const OptionSpec*, int32_t, const char**, Parser::Action&, bool, int32_t) { return true; }
const ParsedOption* First(const ParsedOption& h) { return &h; }
const ParsedOption* Last(const ParsedOption& h) { return &h; }
const ParsedOption* Next(const ParsedOption&) { return nullptr; }
const ParsedOption* Prev(const ParsedOption&) { return nullptr; }
int32_t Count(const ParsedOption&) { return 0; }
}
