// The printf conversions (flags, width, precision; d i o u x X c C p e E f g G a A s) written by the
// project's own code on std::to_chars, so that every host prints the same digits, and the sink they write to.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

// One conversion as a printf specification spells it. width and precision are clamped to kMaxFieldWidth.
struct FieldSpec {
    bool left = false;   // '-'
    bool plus = false;   // '+'
    bool space = false;  // ' '
    bool zero = false;   // '0'
    bool alt = false;    // '#'
    int32_t width = 0;
    int32_t precision = -1;  // -1: none given
    Char type = L's';
};

// Widths and precisions beyond this are clamped: the field would not fit in memory anyway, and clamping
// keeps every length sum within 64 bits.
constexpr int32_t kMaxFieldWidth = 0x7FFFFFFF;

// Writes while the text fits in the buffer and counts every character, so that a caller can measure first
// and write into a buffer of the measured size on a second pass.
class TextSink {
public:
    TextSink(Char* buffer, size_t capacity) : m_buffer(buffer), m_capacity(capacity) {}
    void Put(const Char* text, size_t count);
    void Put(Char c) { Fill(c, 1); }
    void PutNarrow(const char* text, size_t count);
    void Fill(Char c, uint64_t count);
    uint64_t Length() const { return m_length; }
    bool Fits() const { return m_length <= m_capacity; }
    // The written text from position `from` (only meaningful when Fits()).
    Char* At(uint64_t from) { return m_buffer + from; }

private:
    Char* m_buffer;
    size_t m_capacity;
    uint64_t m_length = 0;
};

// Reads "[flags][width][.precision]", the whole of [text, end), which the caller has already delimited.
void ParseFieldSpec(const Char* text, const Char* end, FieldSpec& spec);

void WriteIntegerField(TextSink& out, const FieldSpec& spec, int64_t value);  // d i o u x X c C p
void WriteFloatField(TextSink& out, const FieldSpec& spec, double value);     // e E f g G a A
void WriteTextField(TextSink& out, const FieldSpec& spec, const Char* text, size_t length);  // s

// "%.*f": the fixed notation with `decimals` digits after the point (no point when 0).
void WriteFixed(TextSink& out, double value, int32_t decimals);

}  // namespace brm
