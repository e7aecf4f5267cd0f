#include "runner/echo.h"

#include <cstdio>

#include "option/option_table.h"

namespace {

void Append(std::string& out, const char* text) {
  if (text != nullptr) out += text;
}

// The echo line of one record, after "Argument #n is ".
void AppendRecordLine(std::string& out, const option::ParsedOption& record,
                      const char* lineEnd) {
  switch (record.spec->slot) {
    case option::SlotTaskId:
      out += "-TaskID set to '";
      Append(out, record.value);
      out += "'";
      break;
    case option::SlotParameter:
      if (record.value != nullptr) {
        out += "-Task Parameter with optional argument '";
        out += record.value;
        out += "'";
      } else {
        out += "-Task Parameter without the optional argument";
      }
      break;
    case option::SlotAuto:
      out += "-Auto enabled";
      break;
    case option::SlotHtml:
      out += "-HTML output enabled";
      break;
    case option::SlotDataLoad:
      out += "-Load data enabled";
      break;
    case option::SlotValidate:
      out += "-Validate data enabled";
      break;
    case option::SlotSend:
      out += "-Send data enabled";
      break;
    case option::SlotQuitOk:
      out += "-Quit on completion or failure enabled";
      break;
    default:
      // Help never reaches the echo (it ends the run first); no other slot
      // is stored.
      break;
  }
  out += lineEnd;
}

}  // namespace

std::string FormatEcho(const option::ParsedOption* records, int32_t storedCount,
                       int32_t restCount, const char* const* restElements,
                       const char* lineEnd) {
  std::string out;
  out += lineEnd;
  out += "Parameters validated, loading Ulvex with commands :";
  out += lineEnd;
  char number[48];
  for (int32_t i = 0; i < storedCount; ++i) {
    snprintf(number, sizeof number, "Argument #%d is ", static_cast<int>(i));
    out += number;
    AppendRecordLine(out, records[i], lineEnd);
  }
  for (int32_t i = 0; i < restCount; ++i) {
    snprintf(number, sizeof number, "Non-option argument #%d is ",
             static_cast<int>(i));
    out += number;
    Append(out, restElements[i]);
    out += lineEnd;
  }
  return out;
}
