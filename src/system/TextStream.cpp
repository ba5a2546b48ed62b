// TextStream's decoding, encoding and buffering, and its two sources: TextFile and TextMem.
// Invariant: the buffer holds read-ahead (m_readPos set) or pending write bytes (m_readPos null), never both.
#include "system/TextStream.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "system/Encoding.h"

namespace brm {

namespace {

constexpr Char kReplacement = 0xFFFD;
// Room kept free before each character is encoded: a CR added before a LF and the longest
// sequence a code page gives one character (a surrogate pair in UTF-8 or GB18030) fit in it.
constexpr uint32_t kWriteReserve = 8;

bool IsHighSurrogate(Char c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(Char c) { return c >= 0xDC00 && c <= 0xDFFF; }

// MultiByteToWideChar refuses MB_ERR_INVALID_CHARS (ERROR_INVALID_FLAGS) for these code pages, which
// would turn every character into U+FFFD; they are converted with the system's own substitution.
DWORD StrictFlagsFor(uint32_t codePage) {
    if (codePage == 42 || codePage == 50220 || codePage == 50221 || codePage == 50222 || codePage == 50225 ||
        codePage == 50227 || codePage == 50229 || codePage == 65000 || (codePage >= 57002 && codePage <= 57011))
        return 0;
    return MB_ERR_INVALID_CHARS;
}

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

TextStream::~TextStream() = default;

void TextStream::SetCodePage(uint32_t codePage) {
    codePage = EncodingCodePage(codePage);
    if (codePage == 0) codePage = AnsiCodePage();
    m_codePage = codePage;
    m_pairSplit = false;
    if (!GetCPInfo(codePage, &m_cpInfo)) m_cpInfo = CPINFO{};
}

bool TextStream::OpenStream(const void* source, uint32_t flags, uint32_t codePage) {
    if (m_open) Close();
    m_length = 0;
    m_readPos = nullptr;
    m_lastRead = 0;
    m_lastWritten = 0;
    m_pairSplit = false;
    if (!OpenSource(source, flags)) return false;
    m_open = true;
    m_flags = flags;
    SetCodePage(codePage);
    // A handle the stream was given (a standard handle above all) may be a pipe or a console in the
    // middle of its data: a mark read there would be data, and one written there would pollute output.
    if (flags & HandleMode) return true;
    uint32_t access = flags & AccessMask;
    if (access != Write) {
        if (EnsureBuffer()) Fill();
        const uint8_t* b = m_readPos;
        if (m_length >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
            SetCodePage(kCodePageUtf16);
            m_readPos += 2;
        } else if (m_length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
            SetCodePage(kCodePageUtf8);
            m_readPos += 3;
        }
        if (access == Read) return true;
        if (LengthSource() != 0) {
            if (access == Append) {
                m_readPos = nullptr;
                m_length = 0;
                SeekSource(0, FILE_END);
            }
            return true;
        }
    }
    if (flags & BomUtf8) {
        static const uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
        WriteBytes(kUtf8Mark, sizeof kUtf8Mark);
    } else if (flags & BomUtf16) {
        static const uint8_t kUtf16Mark[] = {0xFF, 0xFE};
        WriteBytes(kUtf16Mark, sizeof kUtf16Mark);
    }
    return true;
}

void TextStream::Close() {
    if (!m_open) return;
    Flush();
    CloseSource();
    m_open = false;
    m_length = 0;
    m_readPos = nullptr;
    m_lastRead = 0;
    m_lastWritten = 0;
    m_pairSplit = false;
}

bool TextStream::EnsureBuffer() {
    if (!m_buffer) m_buffer.reset(new (std::nothrow) uint8_t[kBufferSize]);
    return m_buffer != nullptr;
}

bool TextStream::Fill() {
    uint32_t keep = Unread();
    if (keep && m_readPos != m_buffer.get()) memmove(m_buffer.get(), m_readPos, keep);
    uint32_t got = ReadSource(m_buffer.get() + keep, kBufferSize - keep);
    m_lastRead = got;
    m_length = keep + got;
    m_readPos = m_buffer.get();
    return got != 0;
}

void TextStream::DropReadAhead() {
    if (!m_readPos) return;
    uint32_t unread = Unread();
    if (unread) SeekSource(-int64_t(unread), FILE_CURRENT);
    m_readPos = nullptr;
    m_length = 0;
    m_pairSplit = false;
}

bool TextStream::Flush() {
    if (m_readPos || m_length == 0) return true;
    uint32_t pending = m_length;
    m_length = 0;
    return WriteSource(m_buffer.get(), pending) == pending;
}

void TextStream::Settle() {
    DropReadAhead();
    Flush();
    m_lastWritten = 0;
}

int64_t TextStream::Position() {
    int64_t pos = TellSource();
    if (pos < 0) return -1;
    return m_readPos ? pos - Unread() : pos + m_length;
}

bool TextStream::SeekTo(int64_t distance, int origin) {
    Settle();
    return SeekSource(distance, origin);
}

int64_t TextStream::StreamLength() {
    int64_t length = LengthSource();
    int64_t pos = Position();
    return pos > length ? pos : length;
}

bool TextStream::AtEOF() {
    if (Unread()) return false;
    int64_t pos = Position();
    return pos < 0 || pos >= LengthSource();
}

bool TextStream::DecodeChar(Char units[2], uint32_t& count, uint32_t& size) const {
    const uint8_t* p = m_readPos;
    uint32_t avail = uint32_t(m_buffer.get() + m_length - p);
    count = 1;
    size = 1;
    if (m_codePage == kCodePageUtf16) {
        if (avail < 2) {
            if (m_lastRead) return false;
            units[0] = kReplacement;  // an odd byte at the very end
            return true;
        }
        units[0] = Char(p[0] | (p[1] << 8));
        size = 2;
        return true;
    }
    uint8_t lead = p[0];
    if (lead < 0x80) {
        units[0] = lead;
        return true;
    }
    uint32_t length = 1;
    if (m_codePage == kCodePageUtf8) {
        length = lead >= 0xC0 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF7 ? 4 : 0;
        if (length == 0) {
            units[0] = kReplacement;
            return true;
        }
        // A lead byte whose sequence breaks off gives U+FFFD alone, so the byte that broke it (a quote,
        // a line end) is still read as itself.
        for (uint32_t i = 1; i < length && i < avail; ++i) {
            if (!IsContinuation(p[i])) {
                units[0] = kReplacement;
                return true;
            }
        }
    } else {
        for (int r = 0; r < MAX_LEADBYTES && m_cpInfo.LeadByte[r]; r += 2) {
            if (lead >= m_cpInfo.LeadByte[r] && lead <= m_cpInfo.LeadByte[r + 1]) {
                length = 2;
                break;
            }
        }
    }
    if (avail < length) {
        if (m_lastRead) return false;
        units[0] = kReplacement;  // cut by the end of the data
        size = avail;
        return true;
    }
    if (m_codePage == kCodePageUtf8) {
        // Decoded here rather than by the system, one call per character being most of a read's time. The
        // rules are the system's strict ones: no overlong forms, no surrogates, nothing above U+10FFFF.
        uint32_t cp;
        bool valid;
        if (length == 2) {
            cp = ((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu);
            valid = cp >= 0x80;
        } else if (length == 3) {
            cp = ((lead & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            valid = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
        } else {
            cp = ((lead & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
            valid = cp >= 0x10000 && cp <= 0x10FFFF;
        }
        if (!valid) {
            units[0] = kReplacement;  // the lead byte alone, as for any rejected sequence
            return true;
        }
        size = length;
        if (cp < 0x10000) {
            units[0] = Char(cp);
        } else {
            cp -= 0x10000;
            units[0] = Char(0xD800 + (cp >> 10));
            units[1] = Char(0xDC00 + (cp & 0x3FF));
            count = 2;
        }
        return true;
    }
    int n = MultiByteToWideChar(m_codePage, StrictFlagsFor(m_codePage), reinterpret_cast<const char*>(p),
                                int(length), units, 2);
    if (n == 1 || (n == 2 && IsHighSurrogate(units[0]) && IsLowSurrogate(units[1]))) {
        count = uint32_t(n);
        size = length;
        return true;
    }
    // Rejected (or split into unrelated characters): U+FFFD for the lead byte alone, then resume at
    // the next byte, which may be a line end or a quote the script needs to see.
    units[0] = kReplacement;
    return true;
}

bool TextStream::NextIsLf(uint32_t& size) {
    for (;;) {
        if (Unread() == 0 && (m_lastRead == 0 || !Fill())) return false;
        Char units[2];
        uint32_t count;
        if (!DecodeChar(units, count, size)) {
            Fill();
            continue;
        }
        return count == 1 && units[0] == L'\n';
    }
}

uint32_t TextStream::ReadText(Char* buf, uint32_t maxChars, bool stopAtLineEnd) {
    if (!m_open || maxChars == 0) return 0;
    if (!m_readPos) {
        if (!Flush() || !EnsureBuffer()) {
            buf[0] = 0;
            return 0;
        }
        m_readPos = m_buffer.get();
        m_length = 0;
    }
    m_lastWritten = 0;
    uint32_t out = 0;
    bool mayRead = true;  // one read that finds the end is enough for one call (a console would wait again)
    while (out < maxChars) {
        if (Unread() == 0) {
            if (!mayRead || !Fill()) break;
        }
        // ASCII needs no decoding; only a CR may need the next character.
        if (m_codePage != kCodePageUtf16 && !m_pairSplit) {
            uint8_t b = *m_readPos;
            if (b < 0x80 && b != '\r') {
                ++m_readPos;
                buf[out++] = Char(b);
                if (b == '\n' && stopAtLineEnd) break;
                continue;
            }
        }
        Char units[2];
        uint32_t count, size;
        if (!DecodeChar(units, count, size)) {
            if (!Fill()) mayRead = false;  // m_lastRead is now 0, so the cut sequence decodes as U+FFFD
            continue;
        }
        if (count == 2) {
            if (m_pairSplit) {
                units[0] = units[1];
                count = 1;
                m_pairSplit = false;
            } else if (maxChars - out < 2) {
                if (out > 0) break;
                // A one-unit read still has to make progress, or its caller would take 0 for the end.
                buf[out++] = units[0];
                m_pairSplit = true;
                break;
            } else {
                buf[out++] = units[0];
                buf[out++] = units[1];
                m_readPos += size;
                continue;
            }
        }
        m_readPos += size;
        Char c = units[0];
        if (c == L'\r' && (m_flags & (EolCrLf | EolLoneCr))) {
            uint32_t lfSize;
            if (NextIsLf(lfSize)) {
                if (m_flags & EolCrLf) {
                    m_readPos += lfSize;
                    c = L'\n';
                }
            } else if (m_flags & EolLoneCr) {
                c = L'\n';
            }
        }
        buf[out++] = c;
        if (c == L'\n' && stopAtLineEnd) break;
    }
    if (out < maxChars) buf[out] = 0;
    return out;
}

bool TextStream::PutChar(const Char* text, uint32_t& i, uint32_t length, uint32_t& produced) {
    if (kBufferSize - m_length < kWriteReserve) {
        if (!Flush()) return false;
    }
    uint8_t* p = m_buffer.get() + m_length;
    Char c = text[i];
    uint32_t n;
    if (m_codePage == kCodePageUtf16) {
        p[0] = uint8_t(c);
        p[1] = uint8_t(c >> 8);
        n = 2;
    } else if (c < 0x80) {
        p[0] = uint8_t(c);
        n = 1;
    } else if (m_codePage == kCodePageUtf8) {
        // Encoded here, as the system would: a lone surrogate becomes U+FFFD.
        uint32_t cp = c;
        if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            cp = kReplacement;
        }
        if (cp < 0x800) {
            p[0] = uint8_t(0xC0 | (cp >> 6));
            p[1] = uint8_t(0x80 | (cp & 0x3F));
            n = 2;
        } else if (cp < 0x10000) {
            p[0] = uint8_t(0xE0 | (cp >> 12));
            p[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            p[2] = uint8_t(0x80 | (cp & 0x3F));
            n = 3;
        } else {
            p[0] = uint8_t(0xF0 | (cp >> 18));
            p[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
            p[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            p[3] = uint8_t(0x80 | (cp & 0x3F));
            n = 4;
        }
    } else {
        int units = (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) ? 2 : 1;
        int got = WideCharToMultiByte(m_codePage, 0, text + i, units, reinterpret_cast<char*>(p), 4, nullptr, nullptr);
        if (got <= 0) {
            p[0] = '?';
            got = 1;
        }
        n = uint32_t(got);
        i += uint32_t(units - 1);
    }
    m_length += n;
    produced += n;
    return true;
}

uint32_t TextStream::WriteText(const Char* text, uint32_t length) {
    if (!m_open) return 0;
    if (length == 0) length = uint32_t(wcslen(text));
    if (length == 0) return 0;
    DropReadAhead();
    if (!EnsureBuffer()) return 0;
    static const Char kCr = L'\r';
    uint32_t produced = 0;
    Char previous = m_lastWritten;
    const bool byteCodePage = m_codePage != kCodePageUtf16;
    const bool crlf = m_flags & EolCrLf;
    for (uint32_t i = 0; i < length; ++i) {
        Char c = text[i];
        // ASCII goes straight into the buffer while there is room.
        if (byteCodePage && c < 0x80 && !(c == L'\n' && crlf) && kBufferSize - m_length >= kWriteReserve) {
            m_buffer[m_length++] = uint8_t(c);
            ++produced;
            previous = c;
            continue;
        }
        if (c == L'\n' && crlf && previous != L'\r') {
            uint32_t zero = 0;
            if (!PutChar(&kCr, zero, 1, produced)) return 0;
        }
        if (!PutChar(text, i, length, produced)) return 0;
        previous = text[i];
    }
    m_lastWritten = previous;
    return produced;
}

uint32_t TextStream::ReadBytes(void* buf, uint32_t size) {
    if (!m_open || size == 0) return 0;
    if (!m_readPos && !Flush()) return 0;
    m_lastWritten = 0;
    m_pairSplit = false;
    uint8_t* dest = static_cast<uint8_t*>(buf);
    uint32_t done = 0;
    uint32_t unread = Unread();
    if (unread) {
        done = unread < size ? unread : size;
        memcpy(dest, m_readPos, done);
        m_readPos += done;
    }
    uint32_t rest = size - done;
    if (rest == 0) return done;
    if (rest >= kBufferSize) {
        // Large reads skip the buffer, which is empty by now.
        m_readPos = nullptr;
        m_length = 0;
        uint32_t got = ReadSource(dest + done, rest);
        m_lastRead = got;
        return done + got;
    }
    if (!EnsureBuffer()) return done;
    m_readPos = m_buffer.get();
    m_length = 0;
    Fill();
    uint32_t take = Unread() < rest ? Unread() : rest;
    memcpy(dest + done, m_readPos, take);
    m_readPos += take;
    return done + take;
}

uint32_t TextStream::WriteBytes(const void* data, uint32_t size) {
    if (!m_open || size == 0) return 0;
    DropReadAhead();
    if (!EnsureBuffer()) return 0;
    if (size < kBufferSize - m_length) {
        memcpy(m_buffer.get() + m_length, data, size);
        m_length += size;
        return size;
    }
    if (!Flush()) return 0;
    return WriteSource(data, size);
}

// TextFile

TextFile::~TextFile() { Close(); }

bool TextFile::Open(const Char* path, uint32_t flags, uint32_t codePage) {
    return OpenStream(path, flags & ~uint32_t(HandleMode), codePage);
}

bool TextFile::OpenHandle(HANDLE handle, uint32_t flags, uint32_t codePage) {
    return OpenStream(handle, flags | HandleMode, codePage);
}

bool TextFile::OpenSource(const void* source, uint32_t& flags) {
    CloseSource();
    HANDLE handle = INVALID_HANDLE_VALUE;
    uint32_t access = flags & AccessMask;
    if (flags & HandleMode) {
        handle = const_cast<HANDLE>(source);
    } else {
        const Char* path = static_cast<const Char*>(source);
        if (!path) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        DWORD stdHandle = 0;
        if (wcscmp(path, L"*") == 0 && access != ReadWrite)
            stdHandle = access == Read ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE;
        else if (wcscmp(path, L"**") == 0 && (access == Write || access == Append))
            stdHandle = STD_ERROR_HANDLE;
        if (stdHandle) {
            handle = GetStdHandle(stdHandle);
            if (access == Append) flags = (flags & ~uint32_t(AccessMask)) | Write;
            flags |= HandleMode;
        } else {
            static const DWORD kAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE,
                                             GENERIC_READ | GENERIC_WRITE};
            static const DWORD kDisposition[] = {OPEN_EXISTING, CREATE_ALWAYS, OPEN_ALWAYS, OPEN_ALWAYS};
            // A read-only file refuses writing; checked here too, because a process with the rights to
            // ignore the mark (Wine run as root) would otherwise truncate it.
            if (access != Read) {
                DWORD existing = GetFileAttributesW(path);
                if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
                    SetLastError(ERROR_ACCESS_DENIED);
                    return false;
                }
            }
            DWORD attributes = FILE_ATTRIBUTE_NORMAL;
            if (flags & (EolCrLf | EolLoneCr)) attributes |= FILE_FLAG_SEQUENTIAL_SCAN;
            handle = CreateFileW(path, kAccess[access], (flags & ShareMask) >> 8, nullptr, kDisposition[access],
                                 attributes, nullptr);
            if (handle == INVALID_HANDLE_VALUE) return false;
            m_handle = handle;
            return true;
        }
    }
    // GetFileType answers 0 both for bad handles and for ones it cannot classify; either way the
    // stream cannot use it, and the caller needs an error to report.
    if (GetFileType(handle) == FILE_TYPE_UNKNOWN) {
        if (GetLastError() == NO_ERROR) SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    m_handle = handle;
    return true;
}

void TextFile::CloseSource() {
    if (m_handle != INVALID_HANDLE_VALUE && !(Flags() & HandleMode)) CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

uint32_t TextFile::ReadSource(void* buf, uint32_t bytes) {
    DWORD got = 0;
    if (!ReadFile(m_handle, buf, bytes, &got, nullptr)) return 0;
    return got;
}

uint32_t TextFile::WriteSource(const void* buf, uint32_t bytes) {
    DWORD written = 0;
    if (!WriteFile(m_handle, buf, bytes, &written, nullptr)) return 0;
    return written;
}

bool TextFile::SeekSource(int64_t distance, int origin) {
    LARGE_INTEGER li;
    li.QuadPart = distance;
    return SetFilePointerEx(m_handle, li, nullptr, DWORD(origin)) != 0;
}

int64_t TextFile::TellSource() {
    LARGE_INTEGER zero = {}, pos;
    if (!SetFilePointerEx(m_handle, zero, &pos, FILE_CURRENT)) return -1;
    return pos.QuadPart;
}

int64_t TextFile::LengthSource() {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_handle, &size)) return -1;
    return size.QuadPart;
}

bool TextFile::SetLength(int64_t length) {
    if (!IsOpen()) return false;
    Settle();
    int64_t old = TellSource();
    if (!SeekSource(length, FILE_BEGIN) || !SetEndOfFile(m_handle)) {
        DWORD error = GetLastError();
        if (old >= 0) SeekSource(old, FILE_BEGIN);
        SetLastError(error);
        return false;
    }
    if (old >= 0 && old < length) SeekSource(old, FILE_BEGIN);
    return true;
}

// TextMem

TextMem::~TextMem() { Close(); }

bool TextMem::Open(const void* data, size_t bytes, bool owns, uint32_t flags, uint32_t codePage) {
    Block block = {data, bytes, owns};
    return OpenStream(&block, flags & ~uint32_t(HandleMode), codePage);
}

bool TextMem::OpenSource(const void* source, uint32_t& flags) {
    (void)flags;
    CloseSource();
    const Block* block = static_cast<const Block*>(source);
    m_data = static_cast<const uint8_t*>(block->data);
    m_bytes = block->bytes;
    m_owns = block->owns;
    m_offset = 0;
    return true;
}

void TextMem::CloseSource() {
    if (m_owns) free(const_cast<uint8_t*>(m_data));
    m_data = nullptr;
    m_bytes = 0;
    m_offset = 0;
    m_owns = false;
}

uint32_t TextMem::ReadSource(void* buf, uint32_t bytes) {
    size_t left = m_bytes - m_offset;
    uint32_t n = left < bytes ? uint32_t(left) : bytes;
    if (n) memcpy(buf, m_data + m_offset, n);
    m_offset += n;
    return n;
}

uint32_t TextMem::WriteSource(const void*, uint32_t) { return 0; }

bool TextMem::SeekSource(int64_t, int) { return false; }

int64_t TextMem::TellSource() { return int64_t(m_offset); }

int64_t TextMem::LengthSource() { return int64_t(m_bytes); }

}  // namespace brm
