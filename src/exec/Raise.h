// The raising routines: every run-time failure a script can see goes through one of these.
// They make the failure the running thread's thrown value and return Status::Fail so callers unwind.
#pragma once
#include "base/Messages.h"
#include "expr/ValueToken.h"

namespace brm {

enum class ErrorClass {
    Error, MemoryError, OSError, TargetError, TimeoutError, TypeError, UnsetError, MemberError,
    PropertyError, MethodError, UnsetItemError, ValueError, IndexError, ZeroDivisionError,
};

Status RaiseError(ErrorClass cls, const Char* message, const Char* extra = nullptr);  // message already formatted
Status RaiseMsg(ErrorClass cls, Msg id, const Char* extra = nullptr);                 // a table message as it stands
Status RaiseFormatted(ErrorClass cls, const Char* extra, Msg id, ...);                 // a table format with arguments
Status CriticalError(Msg id, const Char* extra = nullptr);                            // ends the program

}  // namespace brm
