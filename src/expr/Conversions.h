// Conversions between text and numbers, the numeric tests, float formatting and truth values.
// Every place that turns a number into text or text into a number goes through here.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

enum class NumericKind : int { None = 0, Integer = 1, Float = 2 };
enum class AllowNegative : int { No, Yes };
enum class AllowEmpty : int { No, Yes };
enum class AllowFloat : int { No, Yes };

// Blanks around, one sign, "0x" hex digits or decimal digits with at most one point and one exponent
// (a point after the exponent, as in "1e5.5", is not numeric).
NumericKind IsNumeric(const Char* text, AllowNegative neg = AllowNegative::Yes, AllowEmpty empty = AllowEmpty::No,
                      AllowFloat flt = AllowFloat::Yes);
int64_t ParseInt64(const Char* text);
// Sign, hex or decimal digits only; *end is where parsing stopped (text itself when no digit was consumed).
int64_t ParseIntPrefix(const Char* text, const Char** end);
// The C library's decimal conversion: leading white space, a sign, digits with an optional point and
// exponent; stops at the first other character. Decimal only: no hex, "inf" or "nan" text. Overflow
// gives an infinity, underflow zero.
double ParseDouble(const Char* text);
// The decimal number at the start of text (blanks and a sign allowed); *end is set past it, or to the
// start when there is none. Reads only the number's own characters, unlike the C runtime's wcstod, which
// here converts the whole rest of the string first.
double ParseDoublePrefix(const Char* text, const Char** end);
int64_t FloatToInt64(double d);        // toward zero; out of range, inf and NaN give INT64_MIN

// Write into a buffer of at least kScratchChars; return the length in characters (terminated).
// FormatFloat is "%.17g" with ".0" added to integral results ("1.0", "1e+17"); the non-finite values are
// "inf", "-inf" and "nan" (a NaN's sign is never shown).
int FormatFloat(double value, Char* buffer);
int FormatInt64(int64_t value, Char* buffer);
// value in decimal, zero-padded to at least width digits (dates and times); no terminator. Returns the end.
Char* PutPaddedDecimal(Char* out, uint32_t value, int width);

// Token conversions. A Variable token reads its Var (refreshing cached text where needed). The numeric
// parsers read a String token's text up to its terminator, so String texts are always terminated.
const Char* TokenToString(const ValueToken& token, Char* buffer, int32_t* length = nullptr);
int64_t TokenToInt64(const ValueToken& token);
enum class HexCheck : int { No, Yes };
double TokenToDouble(const ValueToken& token, HexCheck hex = HexCheck::Yes);
bool TokenToNumber(const ValueToken& token, ValueToken& number);  // number gets SymInteger or SymFloat
uint32_t TokenKind(const ValueToken& token);                       // SymString/Integer/Float/Missing/Object
NumericKind TokenIsPureNumeric(const ValueToken& token);
NumericKind TokenIsNumeric(const ValueToken& token);
bool TokenToBool(const ValueToken& token);
// Truth of text: "" false; numeric text by its value ("0", " 0 ", "0.0", "0x0" false); anything else true.
// length -1 means terminated; a positive length with a NUL first (binary data) is true.
bool TextToBool(const Char* text, int32_t length = -1);
// ParseDouble, except that with the hex check "0x..." text (after blanks and a sign) is read by ParseInt64.
double TextToDouble(const Char* text, HexCheck hex = HexCheck::Yes);
// "String", "Integer", "Float", the object's type name; "" for Missing and for an unset variable.
const Char* TokenTypeName(const ValueToken& token);

}  // namespace brm
