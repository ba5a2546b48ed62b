// Precompiled for every translation unit: the Windows headers and the standard library parts used widely.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>
#include <memory>
#include <algorithm>
