// The file and directory functions: whole files and directories by name or pattern, attributes, times,
// sizes, the recycle bin, shortcuts, version resources and FileInstall. Typed routines of the function table.
#pragma once
#include <windows.h>
#include <string>
#include "objects/MdFunc.h"

namespace brm {

// FileInstall's embedded form: writes the RCDATA resource named source (upper-cased) of module to dest,
// creating it, or replacing it only with overwrite. 0, or the system error; a failure leaves no file and
// leaves an existing dest as it was.
DWORD WriteResourceFile(HMODULE module, const Char* source, const std::wstring& dest, bool overwrite);

FResult BifDirCopy(const Char* source, const Char* dest, Opt<int32_t> overwrite);
FResult BifDirCreate(const Char* path);
FResult BifDirDelete(const Char* path, Opt<bool> recurse);
FResult BifDirExist(const Char* pattern, StrRet ret);
FResult BifDirMove(const Char* source, const Char* dest, Opt<const Char*> mode);
FResult BifFileCopy(const Char* source, const Char* dest, Opt<bool> overwrite);
FResult BifFileCreateShortcut(const Char* target, const Char* link, Opt<const Char*> workingDir,
                              Opt<const Char*> args, Opt<const Char*> description, Opt<const Char*> iconFile,
                              Opt<const Char*> shortcutKey, Opt<int32_t> iconNumber, Opt<int32_t> runState);
FResult BifFileDelete(const Char* pattern);
FResult BifFileExist(const Char* pattern, StrRet ret);
FResult BifFileGetAttrib(Opt<const Char*> file, StrRet ret);
FResult BifFileGetShortcut(const Char* link, Out<StrRet> target, Out<StrRet> workingDir, Out<StrRet> args,
                           Out<StrRet> description, Out<StrRet> iconFile, Out<ValueRet> iconNumber,
                           Out<int32_t> runState);
FResult BifFileGetSize(Opt<const Char*> file, Opt<const Char*> unit, ValueRet ret);
FResult BifFileGetTime(Opt<const Char*> file, Opt<const Char*> which, StrRet ret);
FResult BifFileGetVersion(Opt<const Char*> file, StrRet ret);
FResult BifFileInstall(const Char* source, const Char* dest, Opt<bool> overwrite);
FResult BifFileMove(const Char* source, const Char* dest, Opt<bool> overwrite);
FResult BifFileRecycle(const Char* pattern);
FResult BifFileRecycleEmpty(Opt<const Char*> drive);
FResult BifFileSetAttrib(const Char* attributes, Opt<const Char*> pattern, Opt<const Char*> mode);
FResult BifFileSetTime(Opt<const Char*> time, Opt<const Char*> pattern, Opt<const Char*> which,
                       Opt<const Char*> mode);

}  // namespace brm
