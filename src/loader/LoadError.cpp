// Load-time error reports: the file and line come from the load position, the text from the message table.
#include "loader/LoadError.h"
#include <cstdarg>
#include "exec/ErrorReport.h"
#include "loader/SourceFiles.h"
#include "startup/ScriptHost.h"

namespace brm {

Status ReportLoadErrorAt(uint16_t fileIndex, int32_t lineNumber, const Char* message, const Char* extra) {
    ReportError(ErrorKind::Error, SourceFileName(fileIndex), lineNumber, message, extra);
    return Status::Fail;
}

Status ReportLoadError(const Char* message, const Char* extra) {
    return ReportLoadErrorAt(g_script.loadFileIndex, g_script.loadLineNumber, message, extra);
}

Status ReportLoadErrorMsg(Msg id, const Char* extra) { return ReportLoadError(MessageText(id), extra); }

Status ReportLoadErrorF(const Char* extra, Msg id, ...) {
    Char text[1024];
    va_list args;
    va_start(args, id);
    FormatMessageTextV(text, sizeof(text) / sizeof(text[0]), MessageText(id), args);
    va_end(args);
    return ReportLoadError(text, extra);
}

}  // namespace brm
