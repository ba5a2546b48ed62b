// FileRead: a whole file in one system read, as text in its encoding or raw into a Buffer; and the option
// words FileRead and FileAppend share.
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include "base/SortedTable.h"
#include "expr/Conversions.h"
#include "objects/Buffer.h"
#include "runtime/PseudoThread.h"
#include "system/Encoding.h"
#include "system/FileObject.h"

namespace brm {

namespace {

bool IsOptionBlank(Char c) { return c == L' ' || c == L'\t' || c == L'\n'; }

// Closes a handle from CreateFileW when the routine leaves.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle() { if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// A file read as text must fit a string whose length in bytes is a signed 32-bit count.
constexpr uint64_t kMaxReadBytes = 0xFFFFFFFDull;

}  // namespace

Status ParseFileOptions(const Char* text, AllowLimit allowLimit, FileOptions& out) {
    out.encoding = g_thread->settings.fileEncoding;
    const Char* p = text;
    while (*p) {
        if (*p == L' ' || *p == L'\t') {
            ++p;
            continue;
        }
        const Char* word = p;
        if (*p == L'\n') {
            out.crlf = true;
            while (*p && *p != L' ' && *p != L'\t') ++p;
            continue;
        }
        while (*p && !IsOptionBlank(*p)) ++p;
        size_t length = size_t(p - word);
        Char buffer[64];
        size_t n = length < 63 ? length : 63;
        wmemcpy(buffer, word, n);
        buffer[n] = 0;
        if (CompareFoldAZ(word, length, L"Raw", 3) == 0) {
            out.raw = true;
            continue;
        }
        if (allowLimit == AllowLimit::Yes && (word[0] | 0x20) == L'm' && length > 1 &&
            IsNumeric(buffer + 1, AllowNegative::No) == NumericKind::Integer && length < 64) {
            int64_t limit = ParseInt64(buffer + 1);
            out.hasLimit = true;
            out.limit = limit < 0 ? 0 : uint64_t(limit);
            continue;
        }
        uint32_t encoding = 0;
        if (length >= 64 || (word[0] >= L'0' && word[0] <= L'9') || !ParseEncodingName(buffer, encoding))
            return RaiseMsg(ErrorClass::ValueError, Msg::InvalidOption, buffer);
        out.encoding = encoding;
    }
    return Status::Ok;
}

FResult BifFileRead(const Char* file, Opt<const Char*> optionText, ValueRet ret) {
    g_thread->lastError = 0;
    if (!*file) return FrParam(0);
    FileOptions options;
    options.encoding = g_thread->settings.fileEncoding;
    if (optionText && ParseFileOptions(*optionText, AllowLimit::Yes, options) != Status::Ok) return FrFail;

    FileHandle h(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (h.Get() == INVALID_HANDLE_VALUE) return FileOSError(GetLastError());
    LARGE_INTEGER sizeInfo;
    if (!GetFileSizeEx(h.Get(), &sizeInfo)) return FileOSError(GetLastError());
    uint64_t size = uint64_t(sizeInfo.QuadPart);
    if (options.hasLimit && size > options.limit) size = options.limit;
    if (size > kMaxReadBytes) return FrOutOfMemory;
    CallResult& r = *ret.result;
    if (size == 0 && !options.raw) return FrOk;

    // Spare bytes: room for a final U+FFFD and the terminator when the bytes are UTF-16 taken as they are.
    auto* bytes = static_cast<uint8_t*>(malloc(size_t(size) + 4));
    if (!bytes) return FrOutOfMemory;
    DWORD got = 0;
    if (size && !ReadFile(h.Get(), bytes, DWORD(size), &got, nullptr)) {
        DWORD error = GetLastError();
        free(bytes);
        return FileOSError(error);
    }
    if (options.raw) {
        BufferObject* b = BufferObject::Adopt(bytes, got);
        if (!b) return FrOutOfMemory;
        r.value.SetObject(b);
        return FrOk;
    }

    const uint32_t codePage = EncodingCodePage(options.encoding);
    const uint8_t* data = bytes;
    uint32_t length = got;
    Char* text = nullptr;
    uint32_t chars = 0;
    bool utf16 = false;
    if (length >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        data += 2;
        length -= 2;
        utf16 = true;
    } else if (codePage == kCodePageUtf16) {
        utf16 = true;
    }
    if (utf16) {
        // The bytes already are the text: they move to the front of the block and it becomes the string.
        chars = length / 2;
        memmove(bytes, data, size_t(chars) * 2);
        text = reinterpret_cast<Char*>(bytes);
        if (length & 1) text[chars++] = 0xFFFD;  // an odd byte at the very end
        text[chars] = 0;
        bytes = nullptr;
    } else {
        uint32_t cp = codePage ? codePage : AnsiCodePage();
        if (length >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
            data += 3;
            length -= 3;
            cp = kCodePageUtf8;
        }
        // A file that holds only its byte-order mark is an empty text, not a failed conversion.
        if (length) {
            int need = MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(data), int(length), nullptr, 0);
            if (need <= 0) {
                DWORD error = GetLastError();
                free(bytes);
                return FileOSError(error);
            }
            text = static_cast<Char*>(malloc((size_t(need) + 1) * sizeof(Char)));
            if (!text) {
                free(bytes);
                return FrOutOfMemory;
            }
            chars = uint32_t(
                MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(data), int(length), text, need));
            text[chars] = 0;
        }
        free(bytes);
        if (!text) return FrOk;
    }
    if (options.crlf) {
        uint32_t out = 0;
        for (uint32_t i = 0; i < chars; ++i) {
            if (text[i] == L'\r' && i + 1 < chars && text[i + 1] == L'\n') continue;
            text[out++] = text[i];
        }
        chars = out;
        text[chars] = 0;
    }
    if (r.memToFree) free(r.memToFree);
    r.memToFree = text;
    r.value.SetString(text, int32_t(chars));
    return FrOk;
}

}  // namespace brm
