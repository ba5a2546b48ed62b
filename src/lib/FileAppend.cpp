// FileAppend: appends text to a file, or to standard output ("*") or standard error ("**").
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>
#include "exec/ExecutorLoops.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "objects/BuiltInFunctions.h"
#include "runtime/PseudoThread.h"
#include "system/Encoding.h"
#include "system/TextStream.h"

namespace brm {

namespace {

inline bool IsOptionBlank(Char c) { return c == L' ' || c == L'\t' || c == L'\n'; }

// "(code) system text", as an OSError made from a code reads.
Status RaiseOSError(DWORD code) {
    g_thread->lastError = code;  // A_LastError keeps the code the error reports
    Char text[300];
    int n = static_cast<int>(FormatMessageText(text, 64, L"(%u) ", static_cast<unsigned>(code)));
    DWORD got = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text + n,
                               static_cast<DWORD>(256 - n), nullptr);
    size_t length = static_cast<size_t>(n) + got;
    if (length && text[length - 1] == L'\n') --length;
    if (length && text[length - 1] == L'\r') --length;
    text[length] = 0;
    return RaiseError(ErrorClass::OSError, text);
}

struct AppendOptions {
    bool crlf = false;
    bool raw = false;
    uint32_t encoding = g_thread->settings.fileEncoding;  // the thread's default (A_FileEncoding)
};

Status ParseOptions(const Char* options, AppendOptions& out) {
    const Char* p = options;
    while (*p) {
        while (IsOptionBlank(*p) && *p != L'\n') ++p;
        if (!*p) break;
        if (*p == L'\n') {
            out.crlf = true;  // a word beginning with a line feed
            ++p;
            while (*p && !IsOptionBlank(*p)) ++p;
            continue;
        }
        const Char* word = p;
        while (*p && !IsOptionBlank(*p)) ++p;
        size_t length = static_cast<size_t>(p - word);
        Char buffer[64];
        size_t n = length < 63 ? length : 63;
        memcpy(buffer, word, n * sizeof(Char));
        buffer[n] = 0;
        if (CompareFoldAZ(word, length, L"Raw", 3) == 0) {
            out.raw = true;
            continue;
        }
        uint32_t encoding = 0;
        if (length >= 64 || (word[0] >= L'0' && word[0] <= L'9') || !ParseEncodingName(buffer, encoding))
            return RaiseMsg(ErrorClass::ValueError, Msg::InvalidOption, buffer);
        out.encoding = encoding;
    }
    return Status::Ok;
}

uint32_t OpenFlags(const AppendOptions& options) {
    uint32_t flags = TextStream::Append | TextStream::ShareRead | TextStream::ShareWrite;
    if (options.crlf) flags |= TextStream::EolCrLf;
    if (!options.raw && options.encoding == kCodePageUtf8) flags |= TextStream::BomUtf8;
    if (!options.raw && options.encoding == kCodePageUtf16) flags |= TextStream::BomUtf16;
    return flags;
}

Status Write(TextFile& out, const Char* text, int32_t length, const AppendOptions& options) {
    if (!length) return Status::Ok;
    uint32_t written = options.raw ? out.WriteBytes(text, static_cast<uint32_t>(length) * sizeof(Char))
                                   : out.WriteText(text, static_cast<uint32_t>(length));
    if (!written || !out.Flush()) {
        DWORD code = GetLastError();
        return RaiseOSError(code ? code : ERROR_WRITE_FAULT);
    }
    return Status::Ok;
}

}  // namespace

Status BifFileAppend(CallResult& result, ValueToken** params, int paramCount) {
    result.value.SetString(L"", 0);
    Char textScratch[kScratchChars], fileScratch[kScratchChars], optionScratch[kScratchChars];
    int32_t textLength = 0;
    const Char* text = TokenToString(*params[0], textScratch, &textLength);
    if (textLength < 0) textLength = static_cast<int32_t>(wcslen(text));
    const bool fileOmitted = paramCount < 2 || TokenKind(*params[1]) == SymMissing;
    const Char* file = fileOmitted ? L"" : TokenToString(*params[1], fileScratch);
    AppendOptions options;
    if (paramCount > 2 && TokenKind(*params[2]) != SymMissing)
        BRM_TRY(ParseOptions(TokenToString(*params[2], optionScratch), options));

    // Inside a read-line loop with an output file, an omitted name writes there; the file stays open
    // until the loop ends.
    LoopReadItem* loop = fileOmitted ? CurrentReadLoop() : nullptr;
    if (loop && *loop->outputName) {
        if (!loop->output) {
            auto* out = new (std::nothrow) TextFile;
            if (!out) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
            if (!out->Open(loop->outputName, OpenFlags(options), EncodingCodePage(options.encoding))) {
                DWORD code = GetLastError();
                delete out;
                return RaiseOSError(code);
            }
            loop->output = out;
        }
        return Write(*loop->output, text, textLength, options);
    }
    if (!*file) return RaiseFormatted(ErrorClass::ValueError, nullptr, Msg::ParamInvalid, 2);

    TextFile out;
    if (!out.Open(file, OpenFlags(options), EncodingCodePage(options.encoding))) return RaiseOSError(GetLastError());
    Status st = Write(out, text, textLength, options);
    out.Close();
    return st;
}

}  // namespace brm
