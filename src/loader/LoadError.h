// The one route for load-time errors: names the file and line being parsed, then the load stops.
#pragma once
#include "base/Messages.h"

namespace brm {

// Reports at the current load position; always returns Status::Fail so callers can `return ReportLoadError(...)`.
Status ReportLoadError(const Char* message, const Char* extra = nullptr);
Status ReportLoadErrorMsg(Msg id, const Char* extra = nullptr);
Status ReportLoadErrorF(const Char* extra, Msg id, ...);  // formats the table message with the arguments
// Reports at a given file and line (for checks made after a line was parsed, such as block linking).
Status ReportLoadErrorAt(uint16_t fileIndex, int32_t lineNumber, const Char* message, const Char* extra = nullptr);

}  // namespace brm
