// Lays out the option table's help texts as the help screen: aligned
// columns, a word-wrapped last column, a narrower layout for narrow screens.
// Pure text work: all output goes through an IStringWriter.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>

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
};

/// The usage text of table at a screen width of columns (clamped to
/// 1..10000, below 1 meaning 80).
void writeUsage(PrintUsageImplementation::IStringWriter& writer,
                const OptionSpec* table, int32_t columns);

/// The usage text of OptionTable.
void writeUsage(PrintUsageImplementation::IStringWriter& writer,
                int32_t columns);

/// Whether a code point takes two screen columns.
bool isDoubleWidth(uint32_t codePoint);

}  // namespace option
