// Showing an error or warning to the user: the standard-error report with /ErrorStdOut, else the error
// dialog (a rich-edit report with the source lines around the failing line).
#pragma once
#include <cstdint>
#include <string>
#include "expr/ValueToken.h"

namespace brm {

struct ScriptLine;

enum class ErrorKind : int { Error = 0, Warning = 1, Critical = 2, Continuable = 9 };

// What the user chose in the dialog.
enum class ErrorChoice : int { Abort, Continue };

// The dialog's control ids. The three tray-command ids are the tray menu's own.
enum ErrorDialogId : int {
    kErrorDialogTemplate = 500,
    kErrorTextId = 501,
    kErrorHelpId = 65411,
    kErrorEditId = 65401,
    kErrorReloadId = 65400,
    kErrorExitAppId = 65405,
    kErrorContinueId = 11,
    kErrorAbortId = 2,
};

// Reports one error at a file and line. fileName may be null: the script's own path is used. The
// ScriptLine with that file and line, when there is one, is listed with its neighbours.
ErrorChoice ReportError(ErrorKind kind, const Char* fileName, int32_t line, const Char* message,
                        const Char* extra = nullptr);

// The same for a known line (null: an error outside any line, reported at fileName and lineNumber).
ErrorChoice ReportErrorAtLine(ErrorKind kind, const ScriptLine* line, const Char* fileName, int32_t lineNumber,
                              const Char* message, const Char* extra);

// The ScriptLine of a file (compared without regard to case) and line number, or null.
const ScriptLine* FindScriptLine(const Char* fileName, int32_t lineNumber);

// "%03u: " and the line's text as a listing shows it.
void AppendLineListing(std::wstring& out, const ScriptLine* line);

// "%s (%d) : ==> %s%s\n" plus "     Specifically: %s\n": the form both standard streams use.
void WriteErrorLines(const Char* streamName, uint32_t codePage, const Char* fileName, int32_t line,
                     const Char* prefix, const Char* message, const Char* extra);

}  // namespace brm
