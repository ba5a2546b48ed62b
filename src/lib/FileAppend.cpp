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
#include "objects/Buffer.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "runtime/PseudoThread.h"
#include "system/Encoding.h"
#include "system/FileObject.h"
#include "system/TextStream.h"

namespace brm {

namespace {

uint32_t OpenFlags(const FileOptions& options) {
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

Status Write(TextFile& out, const AppendData& data, const FileOptions& options) {
    SetLastError(0);
    if (!data.length) {
        // Nothing to add: the file is still made or touched, as appending to it would.
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        if (!(out.Flags() & TextStream::HandleMode)) SetFileTime(out.Handle(), nullptr, nullptr, &now);
        g_thread->lastError = 0;
        return Status::Ok;
    }
    uint32_t written = data.memory ? out.WriteBytes(data.data, data.length)
                       : options.raw
                           ? out.WriteBytes(data.data, data.length * sizeof(Char))
                           : out.WriteText(static_cast<const Char*>(data.data), data.length);
    bool flushed = written && out.Flush();
    DWORD code = GetLastError();
    g_thread->lastError = code;
    if (!flushed) return RaiseOSErrorCode(code ? code : ERROR_WRITE_FAULT);
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
        void* p;
        size_t size;
        if (GetBufferPtrSize(text.symbol == SymObject ? text.object : text.var->Object(), p, size) != Status::Ok)
            return FrFail;
        if (size > 0xFFFFFFFFu) return FrParam(0);
        data.data = p;
        data.length = static_cast<uint32_t>(size);
        data.memory = true;
        // Addresses below 64K are never valid memory; reading there would only crash.
        if (data.length && reinterpret_cast<uintptr_t>(data.data) < 0x10000) return FrParam(0);
    } else {
        int32_t textLength = 0;
        data.data = TokenToString(text, textScratch, &textLength);
        if (textLength < 0) textLength = static_cast<int32_t>(wcslen(static_cast<const Char*>(data.data)));
        data.length = static_cast<uint32_t>(textLength);
    }
    FileOptions options;
    options.encoding = g_thread->settings.fileEncoding;
    if (optionText && ParseFileOptions(*optionText, AllowLimit::No, options) != Status::Ok) return FrFail;

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
                return Done(RaiseOSErrorCode(code));
            }
            loop->output = out;
        }
        return Done(Write(*loop->output, data, options));
    }
    if (!file || !**file) return FrParam(1);

    TextFile out;
    if (!out.Open(*file, OpenFlags(options), EncodingCodePage(options.encoding)))
        return Done(RaiseOSErrorCode(GetLastError()));
    Status st = Write(out, data, options);
    out.Close();
    return Done(st);
}

}  // namespace brm
