// Every script-visible message, once. Raise them by id (Msg::Name); formats use printf-style %s/%d/%c.
// Add new messages in the group of the subsystem that raises them; never spell a message elsewhere.
#pragma once
#include <cstdarg>
#include <cstddef>
#include "expr/ValueToken.h"

#define BRM_MESSAGES(X)                                                                              \
    /* start-up */                                                                                   \
    X(ScriptFileNotFound, L"Script file not found.")                                                 \
    X(OutOfMemory, L"Out of memory.")                                                                \
    X(ReplacePrompt, L"An older instance of this script is already running.  Replace it with this instance?\nNote: To avoid this message, see #SingleInstance in the help file.") \
    X(KeepWaiting, L"Could not close the previous instance of this script.  Keep waiting?")         \
    X(InvalidMemory, L"Invalid memory read/write.")                                                  \
    X(RecursionLimit, L"Function recursion limit exceeded.")                                         \
    X(SystemException, L"System exception 0x%X.")                                                    \
    /* main window and standard menu commands */                                                    \
    X(ReloadFailed, L"The script could not be reloaded.")                                            \
    X(CompanionLaunchFailed, L"Could not launch %s")                                                 \
    X(EditScriptFailed, L"Could not open script.")                                                   \
    X(WebSiteFailed, L"Could not open %s in the default browser.")                                  \
    /* the main window's views */                                                                    \
    X(ViewLinesHeader, L"Script lines most recently executed (oldest first).  Press [F5] to refresh.  The seconds elapsed between a line and the one after it is in parentheses to the right (if not 0).  The bottommost line's elapsed time is the number of seconds since it executed.\r\n\r\n") \
    X(ViewLinesFooter, L"\r\nPress [F5] to refresh.")                                                \
    X(ViewFileChange, L"---- %s\r\n")                                                                \
    X(ViewStillWaiting, L"STILL WAITING (%s): ")                                                     \
    X(ViewLocalVars, L"Local Variables for %s()%s")                                                  \
    X(ViewStaticVars, L"%sStatic Variables for %s()%s")                                              \
    X(ViewGlobalVars, L"%sGlobal Variables (alphabetical)%s")                                        \
    X(ViewVarsRule, L"\r\n--------------------------------------------------\r\n")                  \
    X(ViewHotkeysHeader, L"Type\tOff?\tLevel\tRunning\tName\r\n-------------------------------------------------------------------\r\n") \
    X(ViewKeyHistory, L"Window: %s\r\nKeybd hook: %s\r\nMouse hook: %s\r\nEnabled Timers: %u of %u (%s)\r\nInterrupted threads: %d%s\r\nPaused threads: %d of %d (%d layers)\r\nModifiers (GetKeyState() now) = %s\r\n") \
    X(ViewPreempted, L" (preempted: they will resume when the current thread finishes)")            \
    X(ViewKeyHistoryDisabled, L"\r\nHooks and KeyHistory were disabled at compile time.")           \
    X(KeyHistoryDisabled, L"Key history was disabled at compile time.")                              \
    /* script source */                                                                              \
    X(FileCannotBeOpened, L"%s file \"%s\" cannot be opened.")                                       \
    X(TooManyIncludes, L"Too many includes.")                                                        \
    X(MissingCloseParen, L"Missing \")\"")                                                           \
    X(InvalidOption, L"Invalid option.")                                                             \
    X(UnexpectedChar, L"Unexpected \"%c\"")                                                          \
    X(MissingBefore, L"Missing \"%c\" before \"%c\"")                                                \
    X(MissingChar, L"Missing \"%c\"")                                                                \
    X(MissingSymbol, L"Missing symbol")                                                              \
    X(Param1Required, L"Parameter #1 required")                                                      \
    X(Param1Invalid, L"Parameter #1 invalid.")                                                       \
    X(LibraryNotFound, L"Script library not found.")                                                 \
    X(InternalCallFailed, L"An internal function call failed.")                                      \
    X(UnknownClass, L"Unknown class.")                                                               \
    X(MissingCloseBrace, L"Missing \"}\"")                                                           \
    X(UnexpectedWord, L"Unexpected \"%s\"")                                                          \
    X(HotkeyMissingBrace, L"Hotkey or hotstring is missing its opening brace.")                      \
    /* values */                                                                                     \
    X(InvalidAssignment, L"Invalid assignment.")                                                     \
    X(CannotDo, L"This %s cannot %s.")                                                               \
    X(NotNullTerminated, L"String not null-terminated.")                                            \
    /* statements, directives, blocks and the executor */                                           \
    X(HotstringsDisabled, L"Hotstring support was disabled at compile time.")                        \
    X(DuplicateLabel, L"Duplicate label.")                                                          \
    X(MissingOpenBrace, L"Missing \"{\"")                                                           \
    X(UnexpectedDeclaration, L"Unexpected declaration.")                                            \
    X(DeclarationConflict, L"This %s declaration conflicts with an existing %s.")                  \
    X(InvalidVarDeclaration, L"Invalid variable declaration.")                                      \
    X(DidYouMeanAssign, L"Syntax error. Did you mean to use \":=\"?")                               \
    X(CallNeedsSpace, L"Function calls require a space or \"(\".  Use comma only between parameters.") \
    X(InvalidHotkey, L"Invalid hotkey.")                                                            \
    X(NoRecognizedAction, L"This line does not contain a recognized action.")                       \
    X(InvalidLoopType, L"Invalid loop type.")                                                       \
    X(MissingColon, L"Missing \":\"")                                                               \
    X(RequiresAtLeast, L"\"%s\" requires at least %d parameter%s.")                                \
    X(AcceptsAtMost, L"\"%s\" accepts at most %d parameter%s.")                                    \
    X(RequiresNonBlank, L"\"%s\" requires that parameter #%u be non-blank.")                       \
    X(Param1NotBlank, L"Parameter #1 must not be blank in this case.")                              \
    X(Param2Invalid, L"Parameter #2 invalid.")                                                      \
    X(ReturnOutsideFunction, L"Return's parameter should be blank except inside a function.")       \
    X(NameStartsWithDigit, L"This %s name starts with a number, which is not allowed:\n\"%s\"")     \
    X(NameIllegalChar, L"The following %s name contains an illegal character:\n\"%s\"")             \
    X(NameReserved, L"The following reserved word must not be used as a %s name:\n\"%s\"")         \
    X(InvalidUsage, L"Invalid usage.")                                                              \
    X(DllLoadFailed, L"Failed to load DLL.")                                                        \
    X(RequiresInterpreter, L"This script requires %s.\n\nCurrent interpreter: %s v%s %s\n%s")       \
    X(LabelOnElse, L"A label must not point to an ELSE or UNTIL or CATCH.")                        \
    X(ExpectedCase, L"Expected Case/Default.")                                                      \
    X(UnexpectedFunction, L"Unexpected function")                                                   \
    X(LabelNotFound, L"Label not found in current scope.")                                          \
    X(BreakOutsideLoop, L"Break/Continue must be enclosed by a Loop.")                              \
    X(JumpOutOfFinally, L"Jumps cannot exit a FINALLY block.")                                      \
    X(GotoIntoBlock, L"A Goto must not jump into a block that doesn't enclose it.")                 \
    X(InvalidClass, L"Invalid class.")                                                              \
    X(TooManyClasses, L"Too many classes.")                                                         \
    X(NeverExecute, L"This line will never execute, due to %s preceding it.")                      \
    X(ExceptionThrown, L"An exception was thrown.")                                                 \
    X(OutOfMemoryThreadExit, L"Out of memory.  The current thread will exit.")                      \
    X(UnhandledException, L"Unhandled exception.")                                                  \
    /* error display */                                                                             \
    X(HeadingError, L"Error")                                                                       \
    X(HeadingWarning, L"Warning")                                                                   \
    X(HeadingCritical, L"Critical Error")                                                           \
    X(ContinueDeleteReturns, L"__Delete will now return.")                                          \
    X(ContinueThreadExits, L"The current thread will exit.")                                        \
    X(ContinueNotReloaded, L"The script was not reloaded; the old version will remain in effect.")  \
    X(ContinueProgramExits, L"The program will exit.")                                              \
    X(ContinueUnstable, L"The program is now unstable and will exit.")                              \
    X(ContinueWarnDocs, L"For more details, read the documentation for #Warn.")                     \
    X(ButtonHelp, L"&Help")                                                                         \
    X(ButtonEdit, L"&Edit")                                                                         \
    X(ButtonReload, L"&Reload")                                                                     \
    X(ButtonExitApp, L"E&xitApp")                                                                   \
    X(ButtonContinue, L"&Continue")                                                                 \
    X(ButtonAbort, L"&Abort")                                                                       \
    X(UnknownMessage, L"Unk")                                                                       \
    /* arrays, maps and enumeration */                                                              \
    X(InvalidIndex, L"Invalid index.")                                                              \
    X(ItemHasNoValue, L"Item has no value.")                                                        \
    X(ArrayIsEmpty, L"Array is empty.")                                                             \
    X(MapMustBeEmpty, L"Map must be empty")                                                         \
    X(NotEnumerable, L"Value not enumerable.")                                                      \
    X(OSErrorCode, L"(%i) ")                                                                        \
    X(OSErrorHexCode, L"(0x%X) ")                                                                   \
    X(HotkeysUnsupported, L"Hotkeys are not available yet.")                                        \
    /* expressions */                                                                                \
    X(MissingCloseQuote, L"Missing close-quote")                                                     \
    X(IllegalCharInExpression, L"Illegal character in expression.")                                  \
    X(UnexpectedReservedWord, L"Unexpected reserved word.")                                          \
    X(MissingEndingPercent, L"Missing ending \"%\"")                                                 \
    X(MissingSpaceOrOperator, L"Missing space or operator before this.")                             \
    X(OperatorAfterString, L"Unexpected operator following literal string.")                         \
    X(SuperOutsideClass, L"\"Super\" is valid only inside a class.")                                 \
    X(SyntaxError, L"Syntax error.")                                                                 \
    X(MissingOperand, L"Missing operand.")                                                           \
    X(ReferenceNeedsVariable, L"\"&\" requires a variable.")                                         \
    X(IsSetNeedsVariable, L"IsSet requires a variable.")                                             \
    X(QuestionMissingColon, L"A \"?\" is missing its \":\"")                                         \
    X(ColonMissingQuestion, L"A \":\" is missing its \"?\"")                                         \
    X(MissingPropertyName, L"Missing \"propertyname:\" in object literal.")                          \
    X(InvalidPropertyName, L"Invalid property name in object literal.")                              \
    X(TooFewParams, L"Too few parameters passed to function.")                                       \
    X(TooManyParams, L"Too many parameters passed to function.")                                     \
    X(MissingRequiredParam, L"Missing a required parameter.")                                        \
    X(NeverAssigned, L"This %s appears to never be assigned a value.")                               \
    X(LocalSameAsGlobal, L"This local variable has the same name as a global variable.")             \
    X(InFunction, L"%s  (in function %s)")                                                           \
    X(NotAvailableYet, L"%s is not available yet.")                            \
    X(DivideByZero, L"Divide by zero.")                                                              \
    X(ErrorEvaluating, L"Error evaluating expression.")                                              \
    X(TypeMismatch, L"Expected a%s %s but got a%s %s.")                                              \
    X(ParamTypeMismatch, L"Parameter #%i requires a%s %s, but received a%s %s.")                     \
    X(DynamicVarBlank, L"This dynamic variable is blank.")                                           \
    X(VariableNotFound, L"Variable not found.")                                                      \
    X(DynamicNeedsGlobal, L"This dynamic assignment requires a \"global\" declaration.")              \
    X(UnsetVariable, L"This %s has not been assigned a value.%s")                                    \
    X(GlobalMayBeRequired, L"\nA global declaration inside the function may be required.")            \
    X(NoSuchMember, L"This value of type \"%s\" has no %s named \"%s\".")                            \
    X(VarNameTooLong, L"Variable name too long.")                                                    \
    X(ParamInvalid, L"Parameter #%i invalid.")                                             \
    X(ActionBeAssigned, L"be assigned a value")                                                      \
    X(ActionTakeReference, L"have its reference taken")                                              \
    X(ActionBeOutput, L"be used as an output variable")                                              \
    X(KindStaticVariable, L"static variable")                                                        \
    X(KindParameter, L"parameter")                                                                   \
    X(KindLocalVariable, L"local variable")                                                          \
    X(KindGlobalVariable, L"global variable")                                                        \
    X(KindVariable, L"variable")                                                                     \
    X(KindBuiltInVariable, L"built-in variable")                                                     \
    /* objects and built-in binding */                                                               \
    X(PropertyReadOnly, L"Property is read-only.")                                                   \
    X(InvalidBase, L"Invalid base.")                                                                 \
    X(InvalidParamCount, L"Invalid number of parameters.")                                           \
    X(TypeMismatchPlain, L"Type mismatch.")                                                          \
    X(ParamNotOmitted, L"Parameter #%i must not be omitted in this case.")                           \
    X(InvalidParams, L"Invalid parameter(s).")                                                       \
    X(Failed, L"Failed")                                                                             \
    X(InvalidValue, L"Invalid value.")                                                               \
    /* functions and scopes */                                                                       \
    X(InvalidFunctionDeclaration, L"Invalid function declaration.")                                  \
    X(FunctionNameTooLong, L"Function name too long.")                                               \
    X(DuplicateDeclaration, L"Duplicate declaration.")                                               \
    X(TooManyParamsDeclared, L"Too many params.")                                                    \
    X(MissingParamName, L"Missing parameter name.")                                                  \
    X(MissingComma, L"Missing comma")                                                                \
    X(ExpectedColonEquals, L"Expected \":=\"")                                                       \
    X(ParamDefaultRequired, L"Parameter default required.")                                          \
    X(FuncOutOfScope, L"Func out of scope.")                                                         \
    X(DynamicNotInClosure, L"This dynamic variable is not included in this closure.")                \
    X(InvalidCallback, L"Invalid callback function.")                                                \
    X(KindFunction, L"function")                                                                     \
    X(KindClass, L"class")                                                                           \
    X(SyntaxErrorInClass, L"Syntax error in class definition.")                                      \
    X(MissingClassName, L"Missing class name.")                                                      \
    X(NotValidClassMember, L"Not a valid method, class or property definition.")                    \
    X(InvalidClassVarDecl, L"Invalid class variable declaration.")                                   \
    X(ClassNestedTooDeep, L"This class definition is nested too deep.")                              \
    X(EmptyBrackets, L"Empty [] not permitted.")                                                     \
    X(InvalidBaseClass, L"Invalid base class.")                                                      \
    X(UnknownClassVar, L"Unknown class var.")                                                        \
    X(DeclarationTooLong, L"Declaration too long.")                                                  \
    X(FullClassNameTooLong, L"Full class name is too long.")                                         \
    X(ClassInFunction, L"Functions cannot contain classes.")                                         \
    /* regular expressions */                                                                        \
    X(RegExCompileError, L"Compile error %d at offset %d: %s")                                       \
    X(RegExExecError, L"PCRE execution error.")                                                      \
    X(InvalidCallout, L"Invalid callout")                                                            \
    /* menus */                                                                                      \
    X(NonexistentMenuItem, L"Nonexistent menu item.")                                                \
    X(MenuItemNameTooLong, L"Menu item name too long.")                                              \
    X(TooManyMenuItems, L"Too many menu items.")                                                     \
    X(MenuRenameFailed, L"Rename failed (name too long?).")                                          \
    X(InvalidMenuType, L"Invalid menu type.")                                                        \
    X(CantLoadIcon, L"Can't load icon.")                                                             \
    /* files */                                                                                      \
    X(ArchiveUnsupported, L"Extracting an archive is not supported; the source must be a directory.") \
    /* native calls and raw memory */                                                               \
    X(NonexistentFunction, L"Call to nonexistent function.")                                         \
    X(InvalidArgType, L"Invalid arg type.")                                                          \
    X(InvalidReturnType, L"Invalid return type.")                                                    \
    X(ParamListTooLarge, L"Parameter list too large, or call requires CDecl.")                       \
    X(ParamListTooSmall, L"Parameter list too small.")                                               \
    X(InvalidEmptyWrite, L"An invalid write to an empty variable was detected.")                     \
    X(InvalidLength, L"Invalid Length.")                                                             \
    X(InvalidEncoding, L"Invalid Encoding.")                                                         \
    /* window messages */                                                                            \
    X(TargetWindowNotFound, L"Target window not found.")                                             \
    X(TargetControlNotFound, L"Target control not found.")                                           \
    X(SendTimeout, L"Timeout")                                                                       \
    X(BlankGroupName, L"Blank group name.")                                                          \
    X(GroupNameTooLong, L"Group name too long.")                                                     \
    X(KindGroup, L"group")                                                                           \
    X(NotSupportedForControl, L"Not supported for this control type.")                               \
    X(NonexistentMenu, L"Non-existent or unsupported menu.")                                         \
    /* registry and INI files */                                                                     \
    X(CannotDeleteRootKey, L"Cannot delete root key")                                                \
    X(IniNotFound, L"The requested key, section or file was not found.")                             \
    /* launching programs */                                                                         \
    X(LaunchFailedHeading, L"Failed attempt to launch program or document:")                         \
    X(LaunchFailedRunAsHeading, L"Launch Error (possibly related to RunAs):")                        \
    X(LaunchFailed, L"%s\nAction: <%s%s>%s\nParams: <%s%s>")                                        \
    X(LaunchVerb, L"\nVerb: <%s>")                                                                   \
    X(SystemVerbsRunAs, L"System verbs unsupported with RunAs.")                                     \
    X(StringTooLong, L"String too long.")

namespace brm {

enum class Msg : int {
#define BRM_MSG_ENUM(name, text) name,
    BRM_MESSAGES(BRM_MSG_ENUM)
#undef BRM_MSG_ENUM
    Count
};

// The text (or printf-style format) of a message.
const Char* MessageText(Msg id);

// Formats a message: %s is a wide string, %c a wide character, %d/%i an int, %u unsigned, %x/%X hex,
// %I64d a 64-bit integer, %% a percent sign. Use this, not swprintf: the C runtime's wide printf
// disagrees between builds on what %s means. Always terminates; returns the length.
size_t FormatMessageText(Char* buffer, size_t capacity, const Char* format, ...);
size_t FormatMessageTextV(Char* buffer, size_t capacity, const Char* format, va_list args);

}  // namespace brm
