# The interpreter's sources, by subsystem. Listed explicitly so a stray file never slips into the build.
set(BRM_SOURCES
  # base
  src/base/Messages.cpp
  src/base/Pool.cpp
  # startup
  src/startup/CommandLine.cpp
  src/startup/Exit.cpp
  src/startup/MainViews.cpp
  src/startup/MainWindow.cpp
  src/startup/Reload.cpp
  src/startup/ScriptHost.cpp
  src/startup/SingleInstance.cpp
  src/startup/Startup.cpp
  src/startup/TrayIcon.cpp
  src/startup/TruePath.cpp
  src/startup/UserMenu.cpp
  # runtime
  src/runtime/CallbackList.cpp
  src/runtime/LineHistory.cpp
  src/runtime/MessageLoop.cpp
  src/runtime/MessageMonitor.cpp
  src/runtime/PseudoThread.cpp
  src/runtime/ScriptTimer.cpp
  # loader
  src/loader/BlockLinker.cpp
  src/loader/Definitions.cpp
  src/loader/Directives.cpp
  src/loader/LineParser.cpp
  src/loader/LoadError.cpp
  src/loader/ScriptReader.cpp
  src/loader/ScriptSource.cpp
  src/loader/SourceFiles.cpp
  # expr
  src/expr/Compiler.cpp
  src/expr/Conversions.cpp
  src/expr/Evaluator.cpp
  src/expr/Tokenizer.cpp
  src/expr/ValueToken.cpp
  src/expr/Var.cpp
  # exec
  src/exec/ErrorReport.cpp
  src/exec/GlobalVars.cpp
  src/exec/Executor.cpp
  src/exec/ExecutorLoops.cpp
  src/exec/Raise.cpp
  src/exec/Scope.cpp
  src/exec/StackGuard.cpp
  # objects
  src/objects/Array.cpp
  src/objects/BuiltInClasses.cpp
  src/objects/BuiltInFunctions.cpp
  src/objects/Buffer.cpp
  src/objects/BuiltInVars.cpp
  src/objects/ClassInit.cpp
  src/objects/Dispatch.cpp
  src/objects/Enumerator.cpp
  src/objects/ErrorObjects.cpp
  src/objects/Func.cpp
  src/objects/Map.cpp
  src/objects/MapIndex.cpp
  src/objects/MdFunc.cpp
  src/objects/NativeFunc.cpp
  src/objects/Object.cpp
  src/objects/ObjectBase.cpp
  src/objects/ObjectFunctions.cpp
  src/objects/ObjectInvoke.cpp
  src/objects/VarRef.cpp
  # interop
  src/interop/Callback.cpp
  src/interop/DllCall.cpp
  src/interop/NativeCall.cpp
  src/interop/NativeMemory.cpp
  # lib
  src/lib/DateFunctions.cpp
  src/lib/FileAppend.cpp
  src/lib/Format.cpp
  src/lib/MathFunctions.cpp
  src/lib/NumberFormat.cpp
  src/lib/RegEx.cpp
  src/lib/RegExCallout.cpp
  src/lib/RegExFunctions.cpp
  src/lib/RegExMatchInfo.cpp
  src/lib/Sort.cpp
  src/lib/StringCompare.cpp
  src/lib/StringFunctions.cpp
  src/lib/Timestamp.cpp
  # system
  src/system/ControlFunctions.cpp
  src/system/Encoding.cpp
  src/system/FileFunctions.cpp
  src/system/FileObject.cpp
  src/system/FileRead.cpp
  src/system/IniFile.cpp
  src/system/Launch.cpp
  src/system/Registry.cpp
  src/system/WinFunctions.cpp
  src/system/WindowMessages.cpp
  src/system/WindowSearch.cpp
  src/system/ScreenFunctions.cpp
  src/system/TextStream.cpp
)
