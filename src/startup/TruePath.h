// Paths in the letter case the file system reports, so a script's names read the same however it was started.
#pragma once
#include <string>

namespace brm {

constexpr size_t kMaxPathChars = 32768;  // the longest path Win32's wide functions accept

// Returns the path with each component in its true case; unchanged when any component does not exist.
std::wstring TruePathCase(const std::wstring& path);

}  // namespace brm
