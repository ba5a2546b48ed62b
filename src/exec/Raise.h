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
// The central routine: the error is thrown as an Error object of its class; shown when nothing catches it.
// Ok only when the user chose Continue on a continuable error (kind 9, what the routines above use).
enum class ErrorKind : int;
Status RaiseWithKind(ErrorKind kind, ErrorClass cls, const Char* message, const Char* extra = nullptr);
// "Parameter #%i invalid." (ValueError) with the value as text as the extra (an object by its type name);
// paramIndex is 0-based.
Status RaiseParamError(int paramIndex, const ValueToken& value);
// An OSError for a system error code: OSError's __New turns the code into "(code) system text".
Status RaiseOSErrorCode(uint32_t code, const Char* extra = nullptr);

}  // namespace brm
