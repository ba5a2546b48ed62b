// Error objects: the __New of Error.Prototype and OSError.Prototype, and the Error object a raise throws.
#pragma once
#include "exec/Raise.h"
#include "objects/Object.h"

namespace brm {

// The built-in class of a raising routine's error class.
ClassId ClassIdOf(ErrorClass cls);

// Registers the members of the error classes; start-up calls it before CreateBuiltInClasses.
void RegisterErrorClasses();

// A new Error object of the class, constructed as the system does: (message, "", extra when not empty).
// Script subclasses' __New may run. Null with the failure status in st (Fail with an error raised by the
// construction, or Fail with nothing raised when out of memory).
Object* NewErrorObject(ErrorClass cls, const Char* message, const Char* extra, Status& st);

// Reads an Error object's own Message, Extra, File and Line for a report. Missing ones are "" and 0.
struct ErrorFields {
    const Char* message = L"";
    const Char* extra = L"";
    const Char* file = L"";
    int32_t line = 0;
    Char buffers[3][kScratchChars];
};
bool ReadErrorFields(IObject* error, ErrorFields& fields);

}  // namespace brm
