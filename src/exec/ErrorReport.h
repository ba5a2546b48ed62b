// Showing an error or warning to the user: the standard-error report with /ErrorStdOut, else a dialog.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

enum class ErrorKind : int { Error = 0, Warning = 1, Critical = 2, Continuable = 9 };

// What the user chose in the dialog.
enum class ErrorChoice : int { Abort, Continue };

// Reports one error at a file and line. fileName may be null: the script's own path is used.
ErrorChoice ReportError(ErrorKind kind, const Char* fileName, int32_t line, const Char* message,
                        const Char* extra = nullptr);

// "%s (%d) : ==> %s%s\n" plus "     Specifically: %s\n": the form both standard streams use.
void WriteErrorLines(const Char* streamName, uint32_t codePage, const Char* fileName, int32_t line,
                     const Char* prefix, const Char* message, const Char* extra);

}  // namespace brm
