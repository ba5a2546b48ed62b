// IniRead, IniWrite and IniDelete over the system's profile-file routines.
#pragma once
#include "objects/MdFunc.h"

namespace brm {

FResult BifIniRead(const Char* file, Opt<const Char*> section, Opt<const Char*> key, Opt<const Char*> defaultValue,
                   StrRet ret);
FResult BifIniWrite(const Char* value, const Char* file, const Char* section, Opt<const Char*> key);
FResult BifIniDelete(const Char* file, const Char* section, Opt<const Char*> key);

}  // namespace brm
