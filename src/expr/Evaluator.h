// The expression evaluator: one forward pass over a CompiledExpr with an operand stack on the machine stack.
// Each entry point also accepts arguments that compilation simplified (plain text, a single variable).
#pragma once
#include "expr/ValueToken.h"
#include "loader/ScriptLine.h"

namespace brm {

struct IObject;

// The value of an argument. `result` is initialised by the caller. On Ok the value is an Integer, Float,
// Object (a reference added, owned by the result) or String (in result.buffer when it fits in
// kScratchChars, else heap text owned through result.memToFree). A Missing value is an error.
Status EvaluateExpr(ScriptLine& line, ArgRecord& arg, CallResult& result);
// The same, but a Missing final value (`unset`, an unset `x?`) is returned as SymMissing instead.
Status EvaluateExprAllowMissing(ScriptLine& line, ArgRecord& arg, CallResult& result);
// The truth value of an argument (If, While, Until).
Status EvaluateCondition(ScriptLine& line, ArgRecord& arg, bool& truth);
// Evaluates an argument and discards the value (an Expression line).
Status EvaluateForEffect(ScriptLine& line, ArgRecord& arg);
// An Assign line: args[0] is the target variable, args[1] the value (a Missing value unsets the target).
Status EvaluateAssign(ScriptLine& line);

// Calls a function object with arguments already evaluated; the routine's value is left in result.
// Objects that cannot be called yet raise the member-not-found error rather than failing silently.
Status CallFunctionObject(IObject* func, CallResult& result, ValueToken** params, int paramCount);

// "Expected a%s %s but got a%s %s." (TypeError); an unset variable as the value raises the unset error.
// "This ... has not been assigned a value.", with the hint about a global declaration where it applies.
Status RaiseUnset(const Var& var);
Status RaiseTypeError(const Char* expected, const ValueToken& value);
// "Parameter #%i requires a%s %s, but received a%s %s." (TypeError); paramIndex is 0-based.
Status RaiseParamTypeError(int paramIndex, const Char* expected, const ValueToken& value);
// "n" when the word begins with a vowel, else "": the article rule of the type messages.
const Char* ArticleSuffix(const Char* word);

}  // namespace brm
