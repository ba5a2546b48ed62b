// Encoding values and their names: a code page number, with bit 31 meaning "write no byte-order mark".
// Code page 0 stands for the process's ANSI code page wherever an encoding is used.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

constexpr uint32_t kEncodingNoBom = 0x80000000u;  // the -RAW forms
constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePageUtf16 = 1200;  // little-endian; not a system code page, so IsValidCodePage rejects it
constexpr uint32_t kEncodingUtf8Raw = kEncodingNoBom | kCodePageUtf8;
constexpr uint32_t kEncodingUtf16Raw = kEncodingNoBom | kCodePageUtf16;

// Room for the longest name ("UTF-16-RAW", or "CP" and 10 digits) and its terminator.
constexpr int kEncodingNameSize = 16;

// The code page proper of an encoding value.
constexpr uint32_t EncodingCodePage(uint32_t value) { return value & ~kEncodingNoBom; }

// Name to value, without regard to case: "UTF-8", "UTF-8-RAW", "UTF-16", "UTF-16-RAW", "CP<n>" or "<n>"
// (decimal digits and nothing after them), and empty (or null) for 0. False when the name is invalid,
// including a number that is not an acceptable code page; value is then left alone.
bool ParseEncodingName(const Char* name, uint32_t& value);

// Whether an integer given as an encoding is acceptable: 0, 1200, or a code page the system can convert.
// The -RAW bit is part of no such integer; only the names carry it.
bool ValidEncodingValue(uint32_t value);

// Value to name ("UTF-8", "UTF-8-RAW", "UTF-16", "UTF-16-RAW", otherwise "CP" and the code page proper
// in decimal, so 0 is "CP0"). buffer holds at least kEncodingNameSize characters; returns the length.
int FormatEncodingName(uint32_t value, Char* buffer);

// The process's ANSI code page (GetACP), read once: what code page 0 means.
uint32_t AnsiCodePage();

}  // namespace brm
