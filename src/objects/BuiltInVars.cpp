// The built-in variable table. Getters write short text into the caller's scratch buffer and hand longer
// text over as heap memory, so reading a built-in variable costs no allocation in the common case.
#include "objects/BuiltInVars.h"
#include <cwchar>
#include <string>
#include "exec/Executor.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

Status SetText(CallResult& result, const Char* text, size_t length) {
    Char* target = result.buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target)
            return Status::Fail;
        result.memToFree = target;
    }
    wmemcpy(target, text, length);
    target[length] = L'\0';
    result.value.SetString(target, static_cast<int32_t>(length));
    return Status::Ok;
}

Status SetText(CallResult& result, const std::wstring& text) { return SetText(result, text.data(), text.size()); }

Status GetIndex(CallResult& result, const Char*) {
    result.value.SetInteger(CurrentLoopIndex());
    return Status::Ok;
}

Status GetLoopField(CallResult& result, const Char*) {
    int32_t length = 0;
    const Char* field = CurrentLoopField(&length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(field));
    return SetText(result, field, static_cast<size_t>(length));
}

Status GetLineNumber(CallResult& result, const Char*) {
    result.value.SetInteger(g_script.currentLine ? g_script.currentLine->lineNumber : 0);
    return Status::Ok;
}

Status GetLineFile(CallResult& result, const Char*) {
    const Char* name = SourceFileName(g_script.currentLine ? g_script.currentLine->fileIndex : 0);
    return SetText(result, name, wcslen(name));
}

Status GetScriptDir(CallResult& result, const Char*) { return SetText(result, g_script.scriptDir); }
Status GetScriptName(CallResult& result, const Char*) {
    return SetText(result, g_script.scriptNameOverridden ? g_script.scriptNameOverride : g_script.scriptName);
}
Status GetScriptFullPath(CallResult& result, const Char*) { return SetText(result, g_script.scriptFullPath); }
Status GetBrmPath(CallResult& result, const Char*) { return SetText(result, g_script.brmPath); }
Status GetInitialWorkingDir(CallResult& result, const Char*) { return SetText(result, g_script.initialWorkingDir); }

Status GetWorkingDir(CallResult& result, const Char*) {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(needed ? needed : 1, L'\0');
    DWORD length = GetCurrentDirectoryW(needed, dir.data());
    dir.resize(length < needed ? length : 0);
    return SetText(result, dir);
}

Status GetSpace(CallResult& result, const Char*) { return SetText(result, L" ", 1); }
Status GetTab(CallResult& result, const Char*) { return SetText(result, L"\t", 1); }
Status GetPtrSize(CallResult& result, const Char*) {
    result.value.SetInteger(static_cast<int64_t>(sizeof(void*)));
    return Status::Ok;
}
Status GetTickCount(CallResult& result, const Char*) {
    result.value.SetInteger(static_cast<int64_t>(GetTickCount64()));
    return Status::Ok;
}

// The running function's name (a method's full dotted name); "" at the top level.
Status GetThisFunc(CallResult& result, const Char*) {
    result.value.SetString(g_runningFunc ? g_runningFunc->Name() : L"", -1);
    return Status::Ok;
}

// Names without "A_", sorted with the A-to-Z fold.
constexpr BuiltInVarDef kVars[] = {
    {L"BrmPath", {GetBrmPath, nullptr}},
    {L"Index", {GetIndex, nullptr}},
    {L"InitialWorkingDir", {GetInitialWorkingDir, nullptr}},
    {L"LineFile", {GetLineFile, nullptr}},
    {L"LineNumber", {GetLineNumber, nullptr}},
    {L"LoopField", {GetLoopField, nullptr}},
    {L"LoopFileAttrib", {GetLoopFileVar, nullptr}},
    {L"LoopFileDir", {GetLoopFileVar, nullptr}},
    {L"LoopFileExt", {GetLoopFileVar, nullptr}},
    {L"LoopFileFullPath", {GetLoopFileVar, nullptr}},
    {L"LoopFileName", {GetLoopFileVar, nullptr}},
    {L"LoopFilePath", {GetLoopFileVar, nullptr}},
    {L"LoopFileShortName", {GetLoopFileVar, nullptr}},
    {L"LoopFileShortPath", {GetLoopFileVar, nullptr}},
    {L"LoopFileSize", {GetLoopFileVar, nullptr}},
    {L"LoopFileSizeKB", {GetLoopFileVar, nullptr}},
    {L"LoopFileSizeMB", {GetLoopFileVar, nullptr}},
    {L"LoopFileTimeAccessed", {GetLoopFileVar, nullptr}},
    {L"LoopFileTimeCreated", {GetLoopFileVar, nullptr}},
    {L"LoopFileTimeModified", {GetLoopFileVar, nullptr}},
    {L"LoopReadLine", {GetLoopReadLine, nullptr}},
    {L"PtrSize", {GetPtrSize, nullptr}},
    {L"ScriptDir", {GetScriptDir, nullptr}},
    {L"ScriptFullPath", {GetScriptFullPath, nullptr}},
    {L"ScriptName", {GetScriptName, nullptr}},
    {L"Space", {GetSpace, nullptr}},
    {L"Tab", {GetTab, nullptr}},
    {L"ThisFunc", {GetThisFunc, nullptr}},
    {L"TickCount", {GetTickCount, nullptr}},
    {L"WorkingDir", {GetWorkingDir, nullptr}},
};
constexpr size_t kVarCount = sizeof(kVars) / sizeof(kVars[0]);

constexpr bool TableSorted() { return IsSortedByName(kVars); }
static_assert(TableSorted(), "built-in variables must be sorted in A-to-Z-folded order for binary search");

}  // namespace

const BuiltInVarDef* FindBuiltInVar(const Char* name, size_t length) {
    return FindByName(kVars, name, length);
}

bool BuiltInVarTableIsSorted() { return TableSorted(); }

}  // namespace brm
