// Conversions between text and numbers, the numeric tests, float formatting and truth values.
// Every place that turns a number into text or text into a number goes through here.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

enum class NumericKind : int { None = 0, Integer = 1, Float = 2 };
enum class AllowNegative : bool { No, Yes };
enum class AllowEmpty : bool { No, Yes };
enum class AllowFloat : bool { No, Yes };

NumericKind IsNumeric(const Char* text, AllowNegative neg = AllowNegative::Yes, AllowEmpty empty = AllowEmpty::No,
                      AllowFloat flt = AllowFloat::Yes);
int64_t ParseInt64(const Char* text);
// Sign, hex or decimal digits only; *end is where parsing stopped (text itself when no digit was consumed).
int64_t ParseIntPrefix(const Char* text, const Char** end);
double ParseDouble(const Char* text);  // the C library's decimal conversion (wcstod semantics)
int64_t FloatToInt64(double d);        // toward zero; out of range, inf and NaN give INT64_MIN

// Write into a buffer of at least kScratchChars; return the length in characters (terminated).
int FormatFloat(double value, Char* buffer);
int FormatInt64(int64_t value, Char* buffer);

// Token conversions. A Variable token reads its Var (refreshing cached text where needed).
const Char* TokenToString(const ValueToken& token, Char* buffer, int32_t* length = nullptr);
int64_t TokenToInt64(const ValueToken& token);
enum class HexCheck : bool { No, Yes };
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
const Char* TokenTypeName(const ValueToken& token);  // "String", "Integer", "Float", object's type, "" for Missing

}  // namespace brm
