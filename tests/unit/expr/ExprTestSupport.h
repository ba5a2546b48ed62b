// Compiles and evaluates single expressions outside the loader, capturing load-time error reports.
#pragma once
#include <windows.h>
#include <string>
#include "base/Pool.h"
#include "expr/Compiler.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Tokenizer.h"
#include "expr/Var.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Object.h"
#include "loader/ScriptLine.h"
#include "runtime/PseudoThread.h"
#include "startup/ScriptHost.h"

namespace brm::test {

struct Compiled {
    bool ok = false;
    std::wstring postfix;  // DumpPostfix
    std::wstring error;    // the message of the load error, if any
    ScriptLine* line = nullptr;
};

// Reads what the error report wrote to standard error while fn ran.
template <class Fn>
std::wstring CaptureStdErr(Fn fn) {
    wchar_t dir[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"brm", 0, path);
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    HANDLE old = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, file);
    bool savedStdOut = g_script.errorStdOut;
    g_script.errorStdOut = true;
    g_script.errorStdOutCodePage = CP_UTF8;
    fn();
    g_script.errorStdOut = savedStdOut;
    SetStdHandle(STD_ERROR_HANDLE, old);
    std::string bytes;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got)
        bytes.append(chunk, got);
    CloseHandle(file);
    DeleteFileW(path);
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    // "file (line) : ==> message\n": keep only the message.
    size_t at = text.find(L"==> ");
    if (at == std::wstring::npos)
        return text;
    size_t end = text.find(L'\n', at);
    return text.substr(at + 4, end == std::wstring::npos ? std::wstring::npos : end - at - 4);
}

// Runs the three load-time passes over one argument of a line of the given action.
inline Compiled CompileText(const wchar_t* text, LineAction action = LineAction::Expression) {
    (void)CreateBuiltInClasses();  // class names such as Integer are globals, as after start-up
    Compiled c;
    auto* line = static_cast<ScriptLine*>(PoolAlloc(sizeof(ScriptLine)));
    *line = ScriptLine{};
    line->action = action;
    line->argCount = 1;
    line->lineNumber = 1;
    auto* arg = static_cast<ArgRecord*>(PoolAlloc(sizeof(ArgRecord)));
    *arg = ArgRecord{};
    arg->isExpression = true;
    size_t length = wcslen(text);
    arg->text = PoolStrDup(text, length);
    arg->length = static_cast<uint32_t>(length);
    line->args = arg;
    c.line = line;
    c.error = CaptureStdErr([&] {
        c.ok = ScanReferences(*arg, nullptr) == Status::Ok && CompilePostfix(*line, *arg) == Status::Ok &&
               BindVariables(*line, *arg) == Status::Ok && ValidateExpression(*line, *arg) == Status::Ok;
    });
    if (c.ok) {
        c.error.clear();
        DumpPostfix(*arg, c.postfix);
    }
    return c;
}

struct Evaluated {
    bool ok = false;
    std::wstring value;  // the result as text
    uint32_t kind = SymString;
    std::wstring error;  // the thrown message when the evaluation failed
    std::wstring compileError;
};

inline Evaluated EvaluateText(const wchar_t* text) {
    Evaluated e;
    Compiled c = CompileText(text);
    if (!c.ok) {
        e.compileError = c.error;
        return e;
    }
    g_thread->errorMode |= ErrorModeCaughtHere;
    // An error that escapes must show up in the output, never as a dialog that stalls the test.
    g_script.errorStdOut = true;
    g_script.errorStdOutCodePage = CP_UTF8;
    ClearThrown(*g_thread);
    Char scratch[kScratchChars];
    CallResult result(scratch);
    Status s = EvaluateExprAllowMissing(*c.line, c.line->args[0], result);
    e.ok = s == Status::Ok;
    if (e.ok) {
        e.kind = TokenKind(result.value);
        Char buffer[kScratchChars];
        int32_t length;
        const Char* t = TokenToString(result.value, buffer, &length);
        e.value.assign(t, length < 0 ? wcslen(t) : static_cast<size_t>(length));
    } else if (g_thread->thrown) {
        const ValueToken& v = g_thread->thrown->value;
        Char buffer[kScratchChars];
        e.error = TokenToString(v, buffer);
        ValueToken message;
        if (auto* error = v.symbol == SymObject ? dynamic_cast<Object*>(v.object) : nullptr;
            error && error->GetOwnProp(L"Message", message))
            e.error = TokenToString(message, buffer);  // an Error object
        ClearThrown(*g_thread);
    } else {
        e.error = L"<nothing thrown, status " + std::to_wstring(static_cast<int>(s)) + L">";
    }
    return e;
}

}  // namespace brm::test
