// The comparison modes of the case-sensitivity option ("On", "Off", "Locale", "Logical"): classifying an
// option value, comparing two texts and searching for a needle in each mode.
#pragma once
#include <cstddef>
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

// The numeric values are the ones scripts and messages refer to: 0 is the default.
enum class CaseMode : int { Off = 0, On = 1, Locale = 2, Logical = 3, Invalid = 4 };

// "On", "1", the Integer 1: On; "Off", "0", "", the Integer 0: Off; "Locale"; "Logical"; anything else
// (other text, other integers, any Float, an object): Invalid. Text is matched folding only A-Z.
CaseMode ParseCaseMode(const ValueToken& option);
CaseMode ParseCaseModeText(const Char* text, size_t length);

// Negative, 0 or positive. Off folds only A-Z to a-z and compares code units; On compares code units and
// gives exactly -1, 0 or 1; Locale is lstrcmpiW; Logical is StrCmpLogicalW. Lengths bound the texts for
// Off and On (so embedded NULs take part); Locale and Logical need both texts NUL-terminated at their
// lengths, as every script string is. Invalid compares as On.
int CompareText(const Char* a, size_t aLength, const Char* b, size_t bLength, CaseMode mode);

// Whether the needle's n code units match at hay in a search mode (Off, On or Locale; Logical and
// Invalid search as On). Locale lowers both sides with CharLowerW.
bool MatchAt(const Char* hay, const Char* needle, size_t n, CaseMode mode);

// The first match of the needle at or after hay + from, within hay's first hayLength code units; hay +
// hayLength... is never read. Returns the 0-based offset, or -1 when there is none. needleLength 0 matches
// at from.
ptrdiff_t FindText(const Char* hay, size_t hayLength, size_t from, const Char* needle, size_t needleLength,
                   CaseMode mode);

// The last match that lies entirely within hay's first end code units; -1 when none.
ptrdiff_t FindTextBackward(const Char* hay, size_t end, const Char* needle, size_t needleLength, CaseMode mode);

// The character CharLowerW makes of c (a table filled on first use, so searches make no system call per
// character).
Char LocaleLower(Char c);

}  // namespace brm
