// File: the script object FileOpen returns, holding one TextFile; and the helpers FileRead, FileAppend and
// the file functions share (options, OS errors).
#pragma once
#include <windows.h>
#include <cstdint>
#include "exec/Raise.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "system/TextStream.h"

namespace brm {

class FileObject final : public Object {
public:
    // A closed File whose base is File.Prototype. Null when out of memory.
    static FileObject* Create();
    TextFile& Stream() { return m_file; }

    // Writes out the pending data of every open File (the exit sequence; nothing is released).
    static void FlushAll();

private:
    FileObject();
    ~FileObject() override;

    TextFile m_file;
    FileObject* m_prev = nullptr;  // every live File, for FlushAll
    FileObject* m_next = nullptr;
};

// Registers the class with its typed members; start-up calls it before CreateBuiltInClasses.
void RegisterFileClass();

// The options of FileRead and FileAppend: words separated by blanks, tabs or line feeds. A word beginning
// with a line feed asks for CR LF translation; "m" and a number limits the bytes read (FileRead only);
// "Raw"; anything else an encoding name that does not begin with a digit. Raises "Invalid option." with
// the word as extra text.
struct FileOptions {
    bool crlf = false;
    bool raw = false;
    bool hasLimit = false;
    uint64_t limit = 0;
    uint32_t encoding = 0;
};
enum class AllowLimit { No, Yes };
Status ParseFileOptions(const Char* text, AllowLimit allowLimit, FileOptions& out);

// Raises the OSError of a system error code (0: ERROR_WRITE_FAULT, for writes the system cut short without
// saying why), keeping the code in A_LastError. Always FrFail, for typed routines to return.
FResult FileOSError(DWORD code);

// Typed routines of the function table.
FResult BifFileOpen(ValueToken& file, ValueToken& flags, Opt<ValueToken*> encoding, ValueRet ret);
FResult BifFileRead(const Char* file, Opt<const Char*> options, ValueRet ret);

}  // namespace brm
