// Registry key names (root, subkey path, remote computer), the registry functions, and the item a
// registry loop is visiting, which those functions and the A_LoopReg... variables read.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include "expr/ValueToken.h"

namespace brm {

// Names and paths of a registry-loop item are read up to this many characters, NUL included.
constexpr size_t kRegLoopNameChars = 1024;
// The type a registry-loop item has when it is a subkey rather than a value.
constexpr int32_t kRegTypeKey = -2;

// The item of the innermost registry loop of a thread.
struct LoopRegItem {
    HKEY root;            // the predefined key the loop's key name names
    HKEY key;             // what the loop opens from: the root, or the connection to a remote registry
    Char subkey[kRegLoopNameChars];  // the key being enumerated, relative to the root
    Char name[kRegLoopNameChars];    // the current value or subkey
    int32_t type;         // the value's data type, or kRegTypeKey
    FILETIME modified;    // a subkey's last write; zero for a value
};

enum class RemoteKey { Ignore, Connect };

// A parsed key name. A connection to a remote computer's registry is the key's own and is closed with it.
class RegKeyName {
public:
    RegKeyName() = default;
    ~RegKeyName() { Close(); }
    RegKeyName(const RegKeyName&) = delete;
    RegKeyName& operator=(const RegKeyName&) = delete;

    // False when the name is not a valid key name (unknown root, bad remote part, a subkey path with an
    // empty part) or, with RemoteKey::Connect, when the remote registry cannot be reached.
    bool Parse(const Char* text, RemoteKey remote);

    HKEY root = nullptr;
    HKEY key = nullptr;   // the root, or the remote connection
    std::wstring subkey;
    bool remote = false;

private:
    void Close();
};

// The long name of a predefined key ("HKEY_CURRENT_USER"); "" for any other handle.
const Char* RootKeyLongName(HKEY root);
// The thread's registry view as the access bits every open, create and view-aware delete adds.
REGSAM RegistryView();

// RegRead (identity 0), RegWrite (1), RegCreateKey (2), RegDelete (3), RegDeleteKey (4).
Status BifRegistry(CallResult& result, ValueToken** params, int count);
// A_LoopRegName, A_LoopRegType, A_LoopRegKey, A_LoopRegTimeModified.
Status GetLoopRegVar(CallResult& result, const Char* name);

}  // namespace brm
