// ScriptHost: the single global record of the running script. Each subsystem owns its own group of fields.
#pragma once
#include <cstdint>
#include <string>
#include "expr/ValueToken.h"

namespace brm {

struct ScriptLine;

enum class SourceKind : uint8_t { File = 0, Resource = 1, StdIn = 2 };
enum class SingleInstanceMode : uint8_t { Off = 0, Prompt = 1, Force = 2, Ignore = 3 };

struct ScriptHost {
    // Start-up and exit.
    SourceKind sourceKind = SourceKind::File;
    std::wstring scriptFullPath;   // A_ScriptFullPath
    std::wstring scriptDir;        // A_ScriptDir, no trailing backslash
    std::wstring scriptName;       // A_ScriptName
    std::wstring scriptNameGiven;  // the name as written on the command line (a resource's "*NAME")
    bool scriptNameOverridden = false;
    std::wstring scriptNameOverride;
    std::wstring brmPath;  // A_BrmPath
    std::wstring brmDir;
    std::wstring mainWindowTitle;
    bool running = false;
    int32_t exitCode = 0;
    bool exitInProgress = false;
    bool restart = false;
    bool force = false;
    bool validateOnly = false;
    bool hasExtraInclude = false;
    std::wstring extraInclude;
    bool errorStdOut = false;
    uint32_t errorStdOutCodePage = 0;
    uint32_t defaultCodePage = 65001;
    SingleInstanceMode singleInstance = SingleInstanceMode::Prompt;
    bool allowMainWindow = true;  // A_AllowMainWindow
    std::wstring initialWorkingDir;  // A_InitialWorkingDir
    std::wstring workingDir;         // A_WorkingDir, cached

    // Loader: where new ScriptLines and load-time errors take their file and line from.
    uint16_t loadFileIndex = 0;
    int32_t loadLineNumber = 0;
    bool loadFinished = false;  // the script has finished loading

    // Script lines, in source order.
    ScriptLine* firstLine = nullptr;
    ScriptLine* lastLine = nullptr;
    ScriptLine* currentLine = nullptr;  // the line being executed (A_LineNumber, error reports)
};

extern ScriptHost g_script;

}  // namespace brm
