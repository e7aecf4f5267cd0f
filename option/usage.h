// Lays out the option table's help texts as the help screen: aligned
// columns, a word-wrapped last column, a narrower layout for narrow screens.
// Pure text work: all output goes through an IStringWriter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "option/option_table.h"

namespace option {

struct PrintUsageImplementation {
  /// A sink for runs of bytes (not NUL-terminated).
  class IStringWriter {
   public:
    virtual ~IStringWriter() = default;
    virtual void emit(const char* text, size_t byteCount) = 0;
  };

  /// Writes through an fwrite-shaped function: the whole run as one element.
  template <typename Function, typename Stream>
  class StreamWriter : public IStringWriter {
   public:
    StreamWriter(Function function, Stream stream)
        : function_(function), stream_(stream) {}
    void emit(const char* text, size_t byteCount) override {
      (*function_)(text, byteCount, 1, stream_);
    }

   private:
    Function function_;
    Stream stream_;
  };

  /// Where the printer stands in a table: which help-text row, and which
  /// piece of it. A row's pieces come cell line by cell line: line 0 of
  /// every column from left to right, then line 1 of every column, and so
  /// on; a column without the wanted line yields an empty piece.
  struct CellCursor {
    explicit CellCursor(const OptionSpec* table);

    /// Moves to the next table (a run of rows with help texts); false when
    /// there is none.
    bool advanceTable();
    /// Goes back before the first row of the current table.
    void restartTable();
    /// Moves to the next printed row of the table; false after the last.
    bool advanceRow();
    /// Moves to the next piece of the row; false after the last.
    bool advancePart();
    /// Sets byteLength and screenWidth of the piece at position.
    void measurePart();
    /// The byte that ends the current piece ("\t", "\v", "\n" or NUL).
    char pieceEnd() const { return position[byteLength]; }

    const OptionSpec* tableStart;
    const OptionSpec* rowSpec = nullptr;
    const char* rowStart = nullptr;  ///< null once the table is finished
    const char* position = nullptr;  ///< null before the first row
    int32_t column = -1;             ///< -1 before the first piece of a row
    size_t byteLength = 0;
    int32_t screenWidth = 0;
    int32_t deepestLine = 0;  ///< highest cell line seen in this row
    int32_t line = 0;         ///< cell line at position
    int32_t wantedLine = 0;   ///< cell line collected in this sweep
    bool lineFound = true;    ///< the piece is a real line of its cell

   private:
    const char* nextCell_ = nullptr;  ///< where the sweep's next column starts
    bool sweepDone_ = false;          ///< the sweep has passed the last column
    bool started_ = false;
  };

  /// Word wrapping for one column: the first line of a fed text is written
  /// at once, the others wait (at most 15) until the next feed or a drain.
  class WrapQueue {
   public:
    static constexpr int kSlots = 16;

    /// indent: columns before each continuation line (negative: a line
    /// break instead); width: line width in screen columns, at least 2 so
    /// that every character fits and each line takes at least one.
    WrapQueue(int32_t indent, int32_t width)
        : indent_(indent), width_(width < 2 ? 2 : width) {}

    void pad(IStringWriter& writer, int32_t count) const;
    void emitOneLine(IStringWriter& writer);
    void drain(IStringWriter& writer);
    void feed(IStringWriter& writer, const char* text, size_t byteCount);

   private:
    bool empty() const { return (tail_ + 1) % kSlots == head_; }
    bool full() const { return tail_ == head_; }
    void push(const char* text, size_t byteCount);

    size_t lengths_[kSlots] = {};
    const char* pieces_[kSlots] = {};
    int32_t indent_;
    int32_t width_;
    int head_ = 0;
    int tail_ = kSlots - 1;
    bool wrote_ = false;
  };
};

/// The usage text of table at a screen width of columns (clamped to
/// 1..10000, below 1 meaning 80).
void writeUsage(PrintUsageImplementation::IStringWriter& writer,
                const OptionSpec* table, int32_t columns);

/// The usage text of OptionTable.
void writeUsage(PrintUsageImplementation::IStringWriter& writer,
                int32_t columns);

/// The usage text of table on standard output, at the width in the
/// environment variable COLUMNS (read as atoi reads it; 80 when unset).
void printUsage(const OptionSpec* table);

/// Whether a code point takes two screen columns.
bool isDoubleWidth(uint32_t codePoint);

}  // namespace option
