#include "option/usage.h"

#include <cstdlib>

namespace option {

namespace {

using IStringWriter = PrintUsageImplementation::IStringWriter;
using CellCursor = PrintUsageImplementation::CellCursor;
using WrapQueue = PrintUsageImplementation::WrapQueue;

constexpr int32_t kDefaultWidth = 80;
constexpr int32_t kMaxWidth = 10000;
// Pieces this wide or wider never widen a column in the first measurement.
constexpr int32_t kInitialOverlongLimit = 10000;
// Columns beyond the eighth are neither measured nor printed.
constexpr int kMaxColumns = 8;
// Rows of one table beyond this count are not printed.
constexpr int kMaxPrintedRows = 23;

bool EndsPiece(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\0';
}

bool EndsRow(char c) { return c == '\n' || c == '\0'; }

// A row without help text ends a table; so does the end row (null
// shortLetters), whatever its help text, so no walk ever passes it.
bool EndsTable(const OptionSpec& row) {
  return row.helpText == nullptr || row.shortLetters == nullptr;
}

const char* SegmentEnd(const char* text) {
  while (!EndsPiece(*text)) ++text;
  return text;
}

// One character of text (available > 0 bytes): its byte count and screen
// columns. A lead byte above 0xC1 takes all the continuation bytes
// (0x80..0xBF) that follow it; 0xFE and 0xFF are lead bytes without
// payload bits. Any other byte is one character of one column.
int32_t DecodeCharacter(const char* text, size_t available, size_t* bytes) {
  const unsigned lead = static_cast<unsigned char>(text[0]);
  *bytes = 1;
  if (lead <= 0xC1) return 1;
  unsigned leadingOnes = 0;
  while (leadingOnes < 8 && (lead & (0x80u >> leadingOnes)) != 0) ++leadingOnes;
  uint32_t codePoint = lead & (0x7Fu >> leadingOnes);
  while (*bytes < available) {
    const unsigned next = static_cast<unsigned char>(text[*bytes]);
    if (next < 0x80 || next > 0xBF) break;
    codePoint = (codePoint << 6) | (next & 0x3F);
    ++*bytes;
  }
  return codePoint >= 0x1100 && isDoubleWidth(codePoint) ? 2 : 1;
}

void WriteLineBreak(IStringWriter& writer) { writer.emit("\n", 1); }

void WriteSpaces(IStringWriter& writer, int32_t count) {
  for (int32_t i = 0; i < count; ++i) writer.emit(" ", 1);
}

// An empty piece writes nothing, so it is not handed to the writer.
void WritePiece(IStringWriter& writer, const char* text, size_t byteCount) {
  if (byteCount > 0) writer.emit(text, byteCount);
}

// The first cell line of column 0 without a "\t" or "\v" after it is a
// row without columns: it spans the whole width.
bool IsRowWithoutColumns(const CellCursor& cursor) {
  return cursor.column == 0 && cursor.wantedLine == 0 &&
         cursor.pieceEnd() != '\t' && cursor.pieceEnd() != '\v';
}

struct ColumnWidths {
  int32_t widths[kMaxColumns];
  int32_t lastColumn;
};

// One measurement of every piece of every row of the table (printed or
// not); pieces at least overlongLimit wide are left out.
ColumnWidths MeasureOnce(CellCursor& cursor, int32_t overlongLimit) {
  ColumnWidths result{};
  cursor.restartTable();
  while (cursor.advanceRow()) {
    while (cursor.advancePart()) {
      const int32_t column = cursor.column;
      if (column >= kMaxColumns) continue;
      if (column > result.lastColumn) result.lastColumn = column;
      if (cursor.screenWidth >= overlongLimit) continue;
      if (IsRowWithoutColumns(cursor)) continue;
      if (cursor.screenWidth > result.widths[column])
        result.widths[column] = cursor.screenWidth;
    }
  }
  return result;
}

// Column widths of the current table. While the columns before the last
// do not fit the width together, measure again without the pieces as wide
// as the widest of them: each round lowers the limit, so this ends.
ColumnWidths MeasureColumns(CellCursor& cursor, int32_t width) {
  int32_t overlongLimit = kInitialOverlongLimit;
  for (;;) {
    const ColumnWidths measured = MeasureOnce(cursor, overlongLimit);
    int32_t sum = 0;
    int32_t widest = 0;
    for (int32_t i = 0; i < measured.lastColumn; ++i) {
      sum += measured.widths[i];
      if (measured.widths[i] > widest) widest = measured.widths[i];
    }
    if (sum <= width) return measured;
    overlongLimit = widest;
  }
}

void PrintTable(IStringWriter& writer, CellCursor& cursor, int32_t width) {
  const ColumnWidths measured = MeasureColumns(cursor, width);
  const int32_t last = measured.lastColumn;

  int32_t tabStops[kMaxColumns];
  tabStops[0] = 0;
  for (int i = 1; i < kMaxColumns; ++i)
    tabStops[i] = tabStops[i - 1] + measured.widths[i - 1];

  // A last column squeezed narrower than about half the screen, and
  // narrower than its text, gets lines of its own under the row.
  const int32_t minimumRightWidth = ((width + 1) * 50) / 100;
  int32_t ownLineWidth = (width * 75 + 50) / 100;
  if (ownLineWidth == 0) ownLineWidth = 1;
  int32_t rightWidth = width - tabStops[last];
  bool ownLine =
      rightWidth < minimumRightWidth &&
      (measured.widths[last] == 0 || rightWidth < measured.widths[last]);
  if (ownLine) rightWidth = ownLineWidth;
  ownLine = ownLine && last > 0;

  WrapQueue lastColumn(width - rightWidth, rightWidth > 2 ? rightWidth : 2);
  WrapQueue singleColumn(0, width > 2 ? width : 2);

  cursor.restartTable();
  for (int printed = 0; printed < kMaxPrintedRows && cursor.advanceRow();
       ++printed) {
    const CellCursor rowAtStart = cursor;
    int32_t x = -1;
    while (cursor.advancePart()) {
      const int32_t column = cursor.column;
      if (column > last) continue;
      if (column == 0) {
        if (x >= 0) WriteLineBreak(writer);
        x = 0;
      }
      const int32_t tabStop = tabStops[column];
      int32_t gap = tabStop - x;
      if (gap < 0) {
        // The piece before ran past this column's stop.
        WriteLineBreak(writer);
        gap = tabStop;
      }
      if (gap > 0) WriteSpaces(writer, gap);
      x = tabStop;

      if (column < last && !IsRowWithoutColumns(cursor)) {
        WritePiece(writer, cursor.position, cursor.byteLength);
        x += cursor.screenWidth;
      } else if (column < last || last == 0) {
        singleColumn.feed(writer, cursor.position, cursor.byteLength);
      } else if (!ownLine) {
        lastColumn.feed(writer, cursor.position, cursor.byteLength);
      }
      // In own-line mode the last column waits for the walk below.
    }
    if (ownLine) {
      CellCursor again = rowAtStart;
      while (again.advancePart()) {
        if (again.column != last) continue;
        WriteLineBreak(writer);
        WriteSpaces(writer, width - rightWidth);
        lastColumn.feed(writer, again.position, again.byteLength);
      }
    }
    WriteLineBreak(writer);
    lastColumn.drain(writer);
    singleColumn.drain(writer);
  }
}

}  // namespace

// ---- CellCursor ----

PrintUsageImplementation::CellCursor::CellCursor(const OptionSpec* table)
    : tableStart(table) {}

bool PrintUsageImplementation::CellCursor::advanceTable() {
  if (started_) {
    while (!EndsTable(*tableStart)) ++tableStart;
  }
  started_ = true;
  while (tableStart->shortLetters != nullptr && tableStart->helpText == nullptr)
    ++tableStart;
  restartTable();
  return !EndsTable(*tableStart);
}

void PrintUsageImplementation::CellCursor::restartTable() {
  rowSpec = nullptr;
  rowStart = nullptr;
  position = nullptr;
  column = -1;
}

bool PrintUsageImplementation::CellCursor::advanceRow() {
  if (rowSpec == nullptr) {
    if (EndsTable(*tableStart)) return false;
    rowSpec = tableStart;
    rowStart = rowSpec->helpText;
  } else {
    if (rowStart == nullptr) return false;
    const char* end = rowStart;
    while (!EndsRow(*end)) ++end;
    if (*end == '\n') {
      rowStart = end + 1;
    } else if (EndsTable(rowSpec[1])) {
      rowStart = nullptr;
      return false;
    } else {
      ++rowSpec;
      rowStart = rowSpec->helpText;
    }
  }
  position = rowStart;
  column = -1;
  byteLength = 0;
  screenWidth = 0;
  deepestLine = 0;
  line = 0;
  wantedLine = 0;
  lineFound = true;
  nextCell_ = rowStart;
  sweepDone_ = false;
  return true;
}

bool PrintUsageImplementation::CellCursor::advancePart() {
  if (rowStart == nullptr) return false;
  if (sweepDone_) {
    if (wantedLine >= deepestLine) return false;
    ++wantedLine;
    nextCell_ = rowStart;
    column = -1;
    sweepDone_ = false;
  }
  ++column;
  // Step down the cell's lines to the wanted one.
  const char* at = nextCell_;
  line = 0;
  lineFound = true;
  while (line < wantedLine) {
    const char* end = SegmentEnd(at);
    if (*end != '\v') {
      at = end;
      lineFound = false;
      break;
    }
    ++line;
    at = end + 1;
  }
  position = at;
  if (lineFound) {
    measurePart();
  } else {
    byteLength = 0;
    screenWidth = 0;
  }
  // Pass the rest of the cell, noting how many lines it has.
  const char* rest = position + byteLength;
  int32_t restLine = line;
  while (*rest == '\v') {
    ++restLine;
    rest = SegmentEnd(rest + 1);
  }
  if (restLine > deepestLine) deepestLine = restLine;
  if (*rest == '\t') {
    nextCell_ = rest + 1;
  } else {
    nextCell_ = rest;
    sweepDone_ = true;
  }
  return true;
}

void PrintUsageImplementation::CellCursor::measurePart() {
  byteLength = static_cast<size_t>(SegmentEnd(position) - position);
  screenWidth = 0;
  size_t offset = 0;
  while (offset < byteLength) {
    size_t bytes = 0;
    screenWidth +=
        DecodeCharacter(position + offset, byteLength - offset, &bytes);
    offset += bytes;
  }
}

// ---- WrapQueue ----

void PrintUsageImplementation::WrapQueue::pad(IStringWriter& writer,
                                              int32_t count) const {
  if (count < 0) WriteLineBreak(writer);
  WriteSpaces(writer, count);
}

void PrintUsageImplementation::WrapQueue::emitOneLine(IStringWriter& writer) {
  if (wrote_) {
    WriteLineBreak(writer);
    pad(writer, indent_);
  }
  if (!empty()) {
    tail_ = (tail_ + 1) % kSlots;
    WritePiece(writer, pieces_[tail_], lengths_[tail_]);
  }
  wrote_ = true;
}

void PrintUsageImplementation::WrapQueue::drain(IStringWriter& writer) {
  if (empty()) return;
  pad(writer, indent_);
  wrote_ = false;
  while (!empty()) emitOneLine(writer);
  WriteLineBreak(writer);
}

void PrintUsageImplementation::WrapQueue::push(const char* text,
                                               size_t byteCount) {
  pieces_[head_] = text;
  lengths_[head_] = byteCount;
  head_ = (head_ + 1) % kSlots;
}

void PrintUsageImplementation::WrapQueue::feed(IStringWriter& writer,
                                               const char* text,
                                               size_t byteCount) {
  wrote_ = false;
  const size_t width = static_cast<size_t>(width_);
  while (byteCount > 0) {
    size_t take = byteCount;  // bytes of the next line
    size_t skip = 0;          // the space the line is broken at
    if (byteCount > width) {
      // The longest prefix that fits; a character is taken only whole.
      size_t fit = 0;
      size_t columns = 0;
      while (fit < byteCount) {
        size_t bytes = 0;
        const size_t characterColumns = static_cast<size_t>(
            DecodeCharacter(text + fit, byteCount - fit, &bytes));
        if (columns + characterColumns > width) break;
        columns += characterColumns;
        fit += bytes;
      }
      if (fit < byteCount) {
        // Break at the last space at or before the first byte that does
        // not fit; without one, cut the word at the width.
        size_t space = fit + 1;
        while (space > 0 && text[space - 1] != ' ') --space;
        if (space > 0) {
          take = space - 1;
          skip = 1;
        } else {
          take = fit;
        }
      }
    }
    if (full()) emitOneLine(writer);
    push(text, take);
    text += take + skip;
    byteCount -= take + skip;
  }
  if (!wrote_) emitOneLine(writer);
}

// ---- entry points ----

void writeUsage(PrintUsageImplementation::IStringWriter& writer,
                const OptionSpec* table, int32_t columns) {
  if (table == nullptr) return;
  int32_t width = columns;
  if (width < 1) width = kDefaultWidth;
  if (width > kMaxWidth) width = kMaxWidth;
  CellCursor cursor(table);
  while (cursor.advanceTable()) PrintTable(writer, cursor, width);
}

void writeUsage(PrintUsageImplementation::IStringWriter& writer,
                int32_t columns) {
  writeUsage(writer, OptionTable, columns);
}

void printUsage(const OptionSpec* table) {
  // The C runtime's fwrite, named without its calling-convention attribute.
  using FwriteFunction = size_t (*)(const void*, size_t, size_t, FILE*);
  PrintUsageImplementation::StreamWriter<FwriteFunction, FILE*> writer(&fwrite,
                                                                       stdout);
  const char* columns = getenv("COLUMNS");
  writeUsage(writer, table, columns != nullptr ? atoi(columns) : kDefaultWidth);
}

bool isDoubleWidth(uint32_t codePoint) {
  struct Range {
    uint32_t first;
    uint32_t last;
  };
  static constexpr Range kDoubleWidth[] = {
      {0x1100, 0x115F}, {0x2329, 0x232A}, {0x2E80, 0xA4C6},
      {0xA960, 0xA97C}, {0xAC00, 0xD7FB}, {0xF900, 0xFAFF},
      {0xFE10, 0xFE6B}, {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6},
  };
  // The ideographic half fill space sits inside the CJK range but is
  // narrow.
  if (codePoint == 0x303F) return false;
  if (codePoint >= 0x1B000) return true;
  for (const Range& range : kDoubleWidth)
    if (codePoint >= range.first && codePoint <= range.last) return true;
  return false;
}

}  // namespace option
