// FileAppend: appends text, or the memory of an object with Ptr and Size, to a file or to standard output
// ("*") or standard error ("**").
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>
#include "base/SortedTable.h"
#include "exec/ExecutorLoops.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
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

// Text is converted; Raw text and an object's memory go out as bytes.
struct AppendData {
    const void* data = nullptr;
    uint32_t length = 0;  // characters of text, or bytes of memory
    bool memory = false;
};

Status Write(TextFile& out, const AppendData& data, const AppendOptions& options) {
    if (!data.length) return Status::Ok;
    uint32_t written = data.memory ? out.WriteBytes(data.data, data.length)
                       : options.raw
                           ? out.WriteBytes(data.data, data.length * sizeof(Char))
                           : out.WriteText(static_cast<const Char*>(data.data), data.length);
    if (!written || !out.Flush()) {
        DWORD code = GetLastError();
        return RaiseOSError(code ? code : ERROR_WRITE_FAULT);
    }
    return Status::Ok;
}

// An object's memory: its Ptr and Size, read as properties so that any object with them will do.
Status ReadPtrSize(IObject* object, AppendData& data) {
    ValueToken self;
    self.SetObject(object);
    int64_t values[2];
    const Char* names[] = {L"Ptr", L"Size"};
    for (int i = 0; i < 2; ++i) {
        Char scratch[kScratchChars];
        CallResult r(scratch);
        BRM_TRY(InvokeValueOrFail(r, InvokeGet, names[i], self, nullptr, 0));
        values[i] = TokenToInt64(r.value);
    }
    data.data = reinterpret_cast<const void*>(static_cast<uintptr_t>(values[0]));
    data.length = static_cast<uint32_t>(values[1] < 0 ? 0 : values[1]);
    data.memory = true;
    return Status::Ok;
}

// Raised errors come back as FrFail.
FResult Done(Status st) { return st == Status::Ok ? FrOk : FrFail; }

}  // namespace

FResult BifFileAppend(ValueToken& text, Opt<const Char*> file, Opt<const Char*> optionText) {
    g_thread->lastError = 0;
    Char textScratch[kScratchChars];
    AppendData data;
    if (TokenKind(text) == SymObject) {
        if (ReadPtrSize(text.symbol == SymObject ? text.object : text.var->Object(), data) != Status::Ok)
            return FrFail;
        // Addresses below 64K are never valid memory; reading there would only crash.
        if (data.length && reinterpret_cast<uintptr_t>(data.data) < 0x10000) return FrParam(0);
    } else {
        int32_t textLength = 0;
        data.data = TokenToString(text, textScratch, &textLength);
        if (textLength < 0) textLength = static_cast<int32_t>(wcslen(static_cast<const Char*>(data.data)));
        data.length = static_cast<uint32_t>(textLength);
    }
    AppendOptions options;
    if (optionText && ParseOptions(*optionText, options) != Status::Ok) return FrFail;

    // Inside a read-line loop with an output file, an omitted name writes there; the file stays open
    // until the loop ends.
    LoopReadItem* loop = file ? nullptr : CurrentReadLoop();
    if (loop && *loop->outputName) {
        if (!loop->output) {
            auto* out = new (std::nothrow) TextFile;
            if (!out) return FrOutOfMemory;
            if (!out->Open(loop->outputName, OpenFlags(options), EncodingCodePage(options.encoding))) {
                DWORD code = GetLastError();
                delete out;
                return Done(RaiseOSError(code));
            }
            loop->output = out;
        }
        return Done(Write(*loop->output, data, options));
    }
    if (!file || !**file) return FrParam(1);

    TextFile out;
    if (!out.Open(*file, OpenFlags(options), EncodingCodePage(options.encoding)))
        return Done(RaiseOSError(GetLastError()));
    Status st = Write(out, data, options);
    out.Close();
    return Done(st);
}

}  // namespace brm
