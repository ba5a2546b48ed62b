// FileOpen and the members of File.Prototype: text and raw reads and writes, numbers, position, length,
// encoding and handle, all through the object's TextFile.
#include "system/FileObject.h"
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/Buffer.h"
#include "objects/NativeClass.h"
#include "runtime/PseudoThread.h"
#include "system/Encoding.h"

namespace brm {

namespace {

FileObject* s_firstFile = nullptr;

// ReadLine returns a longer line in pieces of this many characters.
constexpr uint32_t kMaxLineChars = 65535;
// Addresses below this are never valid memory; a script passing one has mixed up its arguments.
constexpr uintptr_t kMinAddress = 0x10000;

FileObject* FileOf(Self self) { return static_cast<FileObject*>(self.object); }

// Text a routine built on the heap becomes the result, which frees it.
void AdoptText(CallResult& r, Char* text, uint32_t length) {
    if (r.memToFree) free(r.memToFree);
    r.memToFree = text;
    r.value.SetString(text, static_cast<int32_t>(length));
}

bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }

// Text flags: an access letter, then line-end and sharing letters.
bool ParseOpenFlags(const Char* text, uint32_t& flags) {
    while (IsBlank(*text)) ++text;
    switch (*text | 0x20) {
    case L'r':
        if ((text[1] | 0x20) == L'w') {
            flags = TextStream::ReadWrite;
            text += 2;
        } else {
            flags = TextStream::Read;
            ++text;
        }
        break;
    case L'w': flags = TextStream::Write; ++text; break;
    case L'a': flags = TextStream::Append; ++text; break;
    case L'h': flags = TextStream::HandleMode; ++text; break;
    default: return false;
    }
    flags |= TextStream::ShareMask;
    for (; *text; ++text) {
        Char c = *text;
        if (IsBlank(c)) continue;
        if (c == L'\n') flags |= TextStream::EolCrLf;
        else if (c == L'\r') flags |= TextStream::EolLoneCr;
        else if (c == L'-') {
            bool any = false;
            for (;; ++text) {
                Char d = text[1] | 0x20;
                if (d == L'd') flags &= ~uint32_t(TextStream::ShareDelete);
                else if (d == L'r') flags &= ~uint32_t(TextStream::ShareRead);
                else if (d == L'w') flags &= ~uint32_t(TextStream::ShareWrite);
                else break;
                any = true;
            }
            if (!any) flags &= ~uint32_t(TextStream::ShareMask);
        } else
            return false;
    }
    return true;
}

bool ParseEncodingValue(const ValueToken& value, uint32_t& encoding) {
    ValueToken v = value;
    if (v.symbol == SymVariable) value.var->ToToken(v);
    if (v.symbol == SymInteger) {
        if (v.valueInt64 < 0 || v.valueInt64 > 0xFFFFFFFFLL || !ValidEncodingValue(uint32_t(v.valueInt64))) return false;
        encoding = uint32_t(v.valueInt64);
        return true;
    }
    if (v.symbol == SymObject || v.symbol == SymFloat) return false;
    Char buffer[kScratchChars];
    return ParseEncodingName(TokenToString(v, buffer), encoding);
}

// --- Members ---

FResult FileAtEOF(Self self, ValueRet ret) {
    ret.result->value.SetInteger(FileOf(self)->Stream().AtEOF() ? 1 : 0);
    return FrOk;
}

FResult FileClose(Self self) {
    TextFile& f = FileOf(self)->Stream();
    if (!f.IsOpen()) return FrOk;
    // Data that cannot be written out is lost once the handle is closed: say so.
    bool flushed = f.Flush();
    DWORD error = GetLastError();
    f.Close();
    return flushed ? FrOk : FileOSError(error);
}

FResult FileGetEncoding(Self self, StrRet ret) {
    Char name[kEncodingNameSize];
    int n = FormatEncodingName(FileOf(self)->Stream().CodePage(), name);
    return ret.Set(name, size_t(n)) ? FrOk : FrOutOfMemory;
}

FResult FileSetEncoding(Self self, ValueToken& value) {
    uint32_t encoding;
    if (!ParseEncodingValue(value, encoding)) return FrParam(0);
    FileOf(self)->Stream().SetCodePage(encoding);
    return FrOk;
}

FResult FileHandle(Self self, ValueRet ret) {
    TextFile& f = FileOf(self)->Stream();
    // The caller may use the handle directly, so its position must be the script's.
    f.Settle();
    ret.result->value.SetInteger(int64_t(reinterpret_cast<uintptr_t>(f.Handle())));
    return FrOk;
}

FResult FileGetLength(Self self, ValueRet ret) {
    ret.result->value.SetInteger(FileOf(self)->Stream().StreamLength());
    return FrOk;
}

FResult FileSetLength(Self self, int64_t length) {
    if (length < 0) return FrParam(0);
    if (!FileOf(self)->Stream().SetLength(length)) return FileOSError(GetLastError());
    return FrOk;
}

FResult FileGetPos(Self self, ValueRet ret) {
    ret.result->value.SetInteger(FileOf(self)->Stream().Position());
    return FrOk;
}

FResult FileSetPos(Self self, int64_t pos) {
    FileOf(self)->Stream().SeekTo(pos, pos < 0 ? FILE_END : FILE_BEGIN);
    return FrOk;
}

FResult FileSeek(Self self, int64_t distance, Opt<int32_t> origin, ValueRet ret) {
    int o = origin ? *origin : distance < 0 ? FILE_END : FILE_BEGIN;
    bool ok = o >= 0 && o <= 2 && FileOf(self)->Stream().SeekTo(distance, o);
    ret.result->value.SetInteger(ok ? 1 : 0);
    return FrOk;
}

FResult FileRead(Self self, Opt<int64_t> count, ValueRet ret) {
    TextFile& f = FileOf(self)->Stream();
    int64_t chars;
    if (count) {
        chars = *count;
    } else {
        // Bytes left are an upper bound of the characters they hold.
        int64_t pos = f.Position(), length = f.StreamLength();
        chars = pos < 0 || length < pos ? 0 : length - pos;
    }
    if (chars <= 0) return FrOk;
    if (chars >= 0x7FFFFFFF / int64_t(sizeof(Char))) return FrOutOfMemory;
    CallResult& r = *ret.result;
    if (chars < kScratchChars) {
        uint32_t n = f.ReadText(r.buffer, uint32_t(chars), false);
        r.buffer[n] = 0;
        r.value.SetString(r.buffer, int32_t(n));
        return FrOk;
    }
    auto* text = static_cast<Char*>(malloc(size_t(chars + 1) * sizeof(Char)));
    if (!text) return FrOutOfMemory;
    uint32_t n = f.ReadText(text, uint32_t(chars), false);
    text[n] = 0;
    // A generous bound leaves most of the block unused; give it back.
    if (n + 4096 < uint64_t(chars)) {
        if (auto* smaller = static_cast<Char*>(realloc(text, (size_t(n) + 1) * sizeof(Char)))) text = smaller;
    }
    AdoptText(r, text, n);
    return FrOk;
}

FResult FileReadLine(Self self, ValueRet ret) {
    TextFile& f = FileOf(self)->Stream();
    CallResult& r = *ret.result;
    // Most lines fit the result's own buffer; a longer one continues on the heap.
    const uint32_t small = kScratchChars - 1;
    uint32_t n = f.ReadText(r.buffer, small, true);
    if (n == small && r.buffer[n - 1] != L'\n') {
        auto* text = static_cast<Char*>(malloc((kMaxLineChars + 1) * sizeof(Char)));
        if (!text) return FrOutOfMemory;
        wmemcpy(text, r.buffer, n);
        n += f.ReadText(text + n, kMaxLineChars - n, true);
        if (n && text[n - 1] == L'\n') --n;
        text[n] = 0;
        AdoptText(r, text, n);
        return FrOk;
    }
    if (n && r.buffer[n - 1] == L'\n') --n;
    r.buffer[n] = 0;
    r.value.SetString(r.buffer, int32_t(n));
    return FrOk;
}

FResult WriteResult(uint32_t written, bool wanted, ValueRet ret) {
    // Nothing produced from non-empty text means the system refused the bytes.
    if (wanted && written == 0) return FileOSError(GetLastError());
    ret.result->value.SetInteger(written);
    return FrOk;
}

FResult FileWrite(Self self, const Char* text, ValueRet ret) {
    SetLastError(0);
    return WriteResult(FileOf(self)->Stream().WriteText(text, 0), *text != 0, ret);
}

FResult FileWriteLine(Self self, Opt<const Char*> text, ValueRet ret) {
    TextFile& f = FileOf(self)->Stream();
    SetLastError(0);
    uint32_t written = 0;
    if (text && **text) {
        written = f.WriteText(*text, 0);
        if (!written) return FileOSError(GetLastError());
    }
    uint32_t lf = f.WriteText(L"\n", 1);
    return WriteResult(lf ? written + lf : 0, true, ret);
}

// Parameter 1 of RawRead and RawWrite as memory: a Buffer-like object or an address; a String only for
// writing. count is parameter 2, bounded by the memory's size when it is known.
FResult RawTarget(ValueToken& target, Opt<int64_t> count, bool forWrite, const void*& data, uint32_t& bytes) {
    ValueToken v = target;
    if (v.symbol == SymVariable) target.var->ToToken(v);
    size_t size = 0;
    bool sized = true;
    if (v.symbol == SymObject) {
        void* p;
        if (GetBufferPtrSize(v.object, p, size) != Status::Ok) return FrFail;
        data = p;
    } else if (v.symbol == SymString && forWrite) {
        int32_t length = v.markerLength;
        if (length < 0) length = int32_t(wcslen(v.marker));
        data = v.marker;
        size = size_t(length) * sizeof(Char);
        if (!count) {
            bytes = uint32_t(size);
            return FrOk;
        }
    } else if (TokenIsPureNumeric(v) == NumericKind::Integer) {
        data = reinterpret_cast<const void*>(uintptr_t(v.valueInt64));
        if (v.valueInt64 < int64_t(kMinAddress) || uint64_t(v.valueInt64) > UINTPTR_MAX) return FrParam(0);
        sized = false;
        if (!count) {
            (void)md::RaiseOmitted(1);
            return FrFail;
        }
    } else {
        (void)RaiseParamTypeError(0, L"Buffer", v);
        return FrFail;
    }
    uint64_t want = count ? uint64_t(*count) : size;
    if (count && (*count < 0 || (sized && want > size))) return FrParam(1);
    if (want > 0xFFFFFFFFu) return FrParam(1);
    if (want && sized && reinterpret_cast<uintptr_t>(data) < kMinAddress) return FrParam(0);
    bytes = uint32_t(want);
    return FrOk;
}

FResult FileRawRead(Self self, ValueToken& target, Opt<int64_t> count, ValueRet ret) {
    const void* data;
    uint32_t bytes;
    FResult fr = RawTarget(target, count, false, data, bytes);
    if (fr.code < 0) return fr;
    uint32_t got = bytes ? FileOf(self)->Stream().ReadBytes(const_cast<void*>(data), bytes) : 0;
    ret.result->value.SetInteger(got);
    return FrOk;
}

FResult FileRawWrite(Self self, ValueToken& source, Opt<int64_t> count, ValueRet ret) {
    const void* data;
    uint32_t bytes;
    FResult fr = RawTarget(source, count, true, data, bytes);
    if (fr.code < 0) return fr;
    SetLastError(0);
    uint32_t written = bytes ? FileOf(self)->Stream().WriteBytes(data, bytes) : 0;
    if (bytes && written < bytes) return FileOSError(GetLastError());
    ret.result->value.SetInteger(written);
    return FrOk;
}

template <class T>
FResult ReadNumber(Self self, ValueRet ret) {
    T value{};
    // Not even one byte: the method gives no number.
    if (FileOf(self)->Stream().ReadBytes(&value, sizeof(T)) == 0) return FrOk;
    if constexpr (std::is_floating_point_v<T>)
        ret.result->value.SetFloat(double(value));
    else
        ret.result->value.SetInteger(int64_t(value));
    return FrOk;
}

template <class T>
FResult WriteNumber(Self self, T value, ValueRet ret) {
    SetLastError(0);
    uint32_t written = FileOf(self)->Stream().WriteBytes(&value, sizeof(T));
    if (written < sizeof(T)) return FileOSError(GetLastError());
    ret.result->value.SetInteger(written);
    return FrOk;
}

// Numbers too large for the narrow types keep their low bytes, as a cast to the type does.
template <class T>
FResult WriteNarrow(Self self, int64_t value, ValueRet ret) {
    return WriteNumber<T>(self, static_cast<T>(value), ret);
}

FResult ReadChar(Self s, ValueRet r) { return ReadNumber<int8_t>(s, r); }
FResult ReadUChar(Self s, ValueRet r) { return ReadNumber<uint8_t>(s, r); }
FResult ReadShort(Self s, ValueRet r) { return ReadNumber<int16_t>(s, r); }
FResult ReadUShort(Self s, ValueRet r) { return ReadNumber<uint16_t>(s, r); }
FResult ReadInt(Self s, ValueRet r) { return ReadNumber<int32_t>(s, r); }
FResult ReadUInt(Self s, ValueRet r) { return ReadNumber<uint32_t>(s, r); }
FResult ReadInt64(Self s, ValueRet r) { return ReadNumber<int64_t>(s, r); }
FResult ReadFloat(Self s, ValueRet r) { return ReadNumber<float>(s, r); }
FResult ReadDouble(Self s, ValueRet r) { return ReadNumber<double>(s, r); }
FResult WriteChar(Self s, int64_t v, ValueRet r) { return WriteNarrow<int8_t>(s, v, r); }
FResult WriteUChar(Self s, int64_t v, ValueRet r) { return WriteNarrow<uint8_t>(s, v, r); }
FResult WriteShort(Self s, int64_t v, ValueRet r) { return WriteNarrow<int16_t>(s, v, r); }
FResult WriteUShort(Self s, int64_t v, ValueRet r) { return WriteNarrow<uint16_t>(s, v, r); }
FResult WriteInt(Self s, int64_t v, ValueRet r) { return WriteNarrow<int32_t>(s, v, r); }
FResult WriteUInt(Self s, int64_t v, ValueRet r) { return WriteNarrow<uint32_t>(s, v, r); }
FResult WriteInt64(Self s, int64_t v, ValueRet r) { return WriteNumber<int64_t>(s, v, r); }
FResult WriteFloat(Self s, double v, ValueRet r) { return WriteNumber<float>(s, float(v), r); }
FResult WriteDouble(Self s, double v, ValueRet r) { return WriteNumber<double>(s, v, r); }

// Sorted by name; a getter and a setter of one property are two rows.
const MdMemberDef kFileMembers[] = {
    BRM_MD_MEMBER(L"AtEOF", Getter, FileAtEOF),
    BRM_MD_MEMBER(L"Close", Method, FileClose),
    BRM_MD_MEMBER(L"Encoding", Getter, FileGetEncoding),
    BRM_MD_MEMBER(L"Encoding", Setter, FileSetEncoding),
    BRM_MD_MEMBER(L"Handle", Getter, FileHandle),
    BRM_MD_MEMBER(L"Length", Getter, FileGetLength),
    BRM_MD_MEMBER(L"Length", Setter, FileSetLength),
    BRM_MD_MEMBER(L"Pos", Getter, FileGetPos),
    BRM_MD_MEMBER(L"Pos", Setter, FileSetPos),
    BRM_MD_MEMBER(L"RawRead", Method, FileRawRead),
    BRM_MD_MEMBER(L"RawWrite", Method, FileRawWrite),
    BRM_MD_MEMBER(L"Read", Method, FileRead),
    BRM_MD_MEMBER(L"ReadChar", Method, ReadChar),
    BRM_MD_MEMBER(L"ReadDouble", Method, ReadDouble),
    BRM_MD_MEMBER(L"ReadFloat", Method, ReadFloat),
    BRM_MD_MEMBER(L"ReadInt", Method, ReadInt),
    BRM_MD_MEMBER(L"ReadInt64", Method, ReadInt64),
    BRM_MD_MEMBER(L"ReadLine", Method, FileReadLine),
    BRM_MD_MEMBER(L"ReadShort", Method, ReadShort),
    BRM_MD_MEMBER(L"ReadUChar", Method, ReadUChar),
    BRM_MD_MEMBER(L"ReadUInt", Method, ReadUInt),
    BRM_MD_MEMBER(L"ReadUShort", Method, ReadUShort),
    BRM_MD_MEMBER(L"Seek", Method, FileSeek),
    BRM_MD_MEMBER(L"Write", Method, FileWrite),
    BRM_MD_MEMBER(L"WriteChar", Method, WriteChar),
    BRM_MD_MEMBER(L"WriteDouble", Method, WriteDouble),
    BRM_MD_MEMBER(L"WriteFloat", Method, WriteFloat),
    BRM_MD_MEMBER(L"WriteInt", Method, WriteInt),
    BRM_MD_MEMBER(L"WriteInt64", Method, WriteInt64),
    BRM_MD_MEMBER(L"WriteLine", Method, FileWriteLine),
    BRM_MD_MEMBER(L"WriteShort", Method, WriteShort),
    BRM_MD_MEMBER(L"WriteUChar", Method, WriteUChar),
    BRM_MD_MEMBER(L"WriteUInt", Method, WriteUInt),
    BRM_MD_MEMBER(L"WriteUShort", Method, WriteUShort),
};

Status BindFileMembers(Object* prototype) {
    constexpr int count = int(sizeof(kFileMembers) / sizeof(kFileMembers[0]));
    return AddTypedMembers(prototype, L"File", kFileMembers, count);
}

}  // namespace

FileObject::FileObject() : Object(BuiltInPrototype(ClassId::File)) {
    m_next = s_firstFile;
    if (m_next) m_next->m_prev = this;
    s_firstFile = this;
}

FileObject::~FileObject() {
    m_file.Close();
    if (m_prev) m_prev->m_next = m_next;
    else s_firstFile = m_next;
    if (m_next) m_next->m_prev = m_prev;
}

FileObject* FileObject::Create() { return new (std::nothrow) FileObject(); }

void FileObject::FlushAll() {
    for (FileObject* f = s_firstFile; f; f = f->m_next) f->m_file.Flush();
}

void RegisterFileClass() {
    NativeClassDef def{nullptr, 0, []() -> Object* { return FileObject::Create(); }};
    def.bindMembers = BindFileMembers;
    RegisterNativeClass(ClassId::File, def);
}

FResult FileOSError(DWORD code) {
    (void)RaiseOSErrorCode(code ? code : ERROR_WRITE_FAULT);
    return FrFail;
}

FResult BifFileOpen(ValueToken& file, ValueToken& flagsArg, Opt<ValueToken*> encodingArg, ValueRet ret) {
    ValueToken flagsValue = flagsArg;
    if (flagsValue.symbol == SymVariable) flagsArg.var->ToToken(flagsValue);
    uint32_t flags;
    if (flagsValue.symbol == SymInteger) {
        flags = uint32_t(flagsValue.valueInt64);
    } else {
        Char buffer[kScratchChars];
        if (flagsValue.symbol == SymObject || !ParseOpenFlags(TokenToString(flagsValue, buffer), flags))
            return FrInvalidParams;
    }
    uint32_t encoding = g_thread->settings.fileEncoding;
    if (encodingArg && !ParseEncodingValue(**encodingArg, encoding)) return FrInvalidParams;
    const uint32_t codePage = EncodingCodePage(encoding);
    if (encoding == kCodePageUtf8) flags |= TextStream::BomUtf8;
    else if (encoding == kCodePageUtf16) flags |= TextStream::BomUtf16;

    // Everything that can fail without touching the file comes first: a file opened for writing is
    // truncated by the open itself, so nothing may fail after it.
    Ref<FileObject> f(FileObject::Create());
    if (!f) return FrOutOfMemory;
    bool opened;
    if (flags & TextStream::HandleMode) {
        ValueToken n;
        if (!TokenToNumber(file, n) || n.symbol != SymInteger) return FrParam(0);
        opened = f->Stream().OpenHandle(reinterpret_cast<HANDLE>(uintptr_t(n.valueInt64)), flags, codePage);
    } else {
        Char buffer[kScratchChars];
        if (TokenKind(file) == SymObject) {
            (void)RaiseParamTypeError(0, L"String", file);
            return FrFail;
        }
        opened = f->Stream().Open(TokenToString(file, buffer), flags, codePage);
    }
    if (!opened) return FileOSError(GetLastError());
    ret.result->value.SetObject(f.Detach());
    return FrOk;
}

}  // namespace brm
