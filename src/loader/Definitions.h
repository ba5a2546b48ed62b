// Function definitions: turns a definition header into a UserFunc, its parameter records, the variable that
// holds it and the start of its body.
#pragma once
#include <cstddef>
#include "expr/ValueToken.h"

namespace brm {

struct Var;

// A line for which the function-definition test holds: "name(params)" followed by nothing (the "{" comes on
// the next line), "{", or "=>" and an expression; optionally preceded by "Static". Reports load errors.
Status DefineFunction(Char* text, size_t length);

// A function written inside an expression: header is "(params)" or "name(params)", body the expression
// after "=>" (bodyMap: its literal map, or null). Its lines are added out of the surrounding statement's
// structure; *holder receives the variable that holds it.
Status DefineExpressionFunction(const Char* header, size_t headerLength, const Char* body, size_t bodyLength,
                                const bool* bodyMap, Var** holder);

// True once after a definition whose "{" is on the next line: that "{" was already added with the header.
bool TakeFunctionBrace();

// "Name [extends Base] [{]" (the text after "Class"): creates the class object and its prototype and opens
// the class body. Reports load errors.
Status DefineClass(Char* text, size_t length, const Char* nextLine);
// The Prototype of a class named by a (dotted) name: a global class or a script class nested in one; null
// when the name is no class.
IObject* FindClassPrototype(const Char* name, size_t length);
// At the end of loading: "Unknown class." for a base class that was named by "extends" but never defined.
Status CheckBaseClassesDefined();
// True when the line being read stands directly in a class body (outside any method).
bool InClassBody();
// True while a class body has not seen its "}".
bool ClassBodyOpen();
// True once after a class header whose "{" is on the next line.
bool TakeClassBrace();
// The class body's "}": generates the __Init methods from the collected initialisers and closes the class.
Status EndClass();
// A line directly in a class body: a method, a class variable declaration or a nested class.
Status DefineClassMember(Char* text, size_t length, const Char* nextLine);

}  // namespace brm
