// True letter case of a path, component by component, through FindFirstFileW.
#include "startup/TruePath.h"

namespace brm {

std::wstring TruePathCase(const std::wstring& path) {
    std::wstring result;
    size_t pos;  // where the components that FindFirstFileW resolves begin
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') {
        result = path.substr(0, 3);
        result[0] = towupper(result[0]);
        pos = 3;
    } else if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        // \\server\share\ stay as written.
        size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) return path;
        size_t share = path.find(L'\\', server + 1);
        if (share == std::wstring::npos) return path;
        result = path.substr(0, share + 1);
        pos = share + 1;
    } else {
        return path;
    }
    while (pos < path.size()) {
        size_t end = path.find(L'\\', pos);
        if (end == std::wstring::npos) end = path.size();
        std::wstring component = path.substr(pos, end - pos);
        if (component.empty() || component == L"." || component == L".." ||
            component.find_first_of(L"*?") != std::wstring::npos)
            return path;
        std::wstring probe = result + component;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(probe.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return path;
        FindClose(find);
        result += data.cFileName;
        if (end < path.size()) result += L'\\';
        if (result.size() >= kMaxPathChars) return path;
        pos = end + 1;
    }
    return result;
}

}  // namespace brm
