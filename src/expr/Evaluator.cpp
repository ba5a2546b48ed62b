// The expression evaluator. One pass over the postfix tokens; every operand is a pointer into either the
// compiled tokens (literals, variables) or a result slot on the machine stack, so plain numbers and short
// strings never touch the heap. Whatever must be given back (heap text, object references) is listed in
// the temporary list and released on every exit path.
#include "expr/Evaluator.h"
#include <malloc.h>
#include <memory>
#include <cmath>
#include <cwchar>
#include <typeinfo>
#include "exec/GlobalVars.h"
#include "exec/Raise.h"
#include "exec/Scope.h"
#include "expr/Compiler.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/Array.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Enumerator.h"
#include "objects/Func.h"
#include "objects/Object.h"
#include "objects/VarRef.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

// Working memory that an evaluation needs beyond its frame (temporary text, the arrays of a long
// expression, spread arguments) is taken from one arena and given back, in reverse order, when the
// evaluation ends: evaluations nest strictly (calls, pseudo-threads), so a mark is all it takes. Not
// alloca: a frame with a variable size keeps a register for its base, and this loop needs every one.
// Pieces that do not fit come from the heap.
constexpr size_t kArenaPiece = 8194;        // bytes; larger text always comes from the heap
constexpr size_t kArenaBytes = 1u << 20;
alignas(16) char g_arena[kArenaBytes];
size_t g_arenaUsed = 0;

inline void* ArenaTake(size_t bytes) {
    bytes = (bytes + 15) & ~static_cast<size_t>(15);
    if (bytes > kArenaBytes - g_arenaUsed)
        return nullptr;
    void* p = g_arena + g_arenaUsed;
    g_arenaUsed += bytes;
    return p;
}

enum class Want { Nothing, Truth, Value, ValueOrMissing, Assign };

struct Temp {
    Char* memory;
    IObject* object;
};

inline bool IsMissing(const ValueToken* t) { return t->symbol == SymMissing; }

// An Integer operand, literal or held by a variable, read without making a token first: the common case of
// arithmetic and comparisons.
inline bool PureInteger(const ValueToken* t, int64_t& out) {
    if (t->symbol == SymInteger) {
        out = t->valueInt64;
        return true;
    }
    // A variable token that wants the variable itself (`&x`, an assignment target) is not its value.
    if (t->symbol != SymVariable || (t->varUsage != VarUsageRead && t->varUsage != VarUsageMaybeUnset))
        return false;
    const Var* v = t->var;
    if (v->m_type == VarTypeAlias)
        v = v->Target();
    if (v->m_type == VarTypeVirtual || !(v->m_attrib & VarAttribInteger))
        return false;
    out = v->m_valueInt64;
    return true;
}

inline uint32_t KindOf(const ValueToken* t) {
    if (t->symbol <= SymFloat || t->symbol == SymObject || t->symbol == SymMissing)
        return t->symbol;
    return TokenKind(*t);
}

inline IObject* ObjectOf(const ValueToken* t) {
    if (t->symbol == SymObject)
        return t->object;
    if (t->symbol == SymVariable && t->var->IsObject())
        return t->var->Object();
    return nullptr;
}

// Reads a number without converting text where the variable already holds one.
inline bool GetNumber(const ValueToken* t, ValueToken& out) {
    switch (t->symbol) {
    case SymInteger:
    case SymFloat:
        out = *t;
        return true;
    case SymVariable: {
        Var* v = t->var->Target();
        if (v->m_attrib & VarAttribInteger) {
            out.SetInteger(v->m_valueInt64);
            return true;
        }
        if (v->m_attrib & VarAttribFloat) {
            out.SetFloat(v->m_valueDouble);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return TokenToNumber(*t, out);
}

inline double AsDouble(const ValueToken& n) {
    return n.symbol == SymInteger ? static_cast<double>(n.valueInt64) : n.valueDouble;
}

Status ErrorEvaluating() { return RaiseMsg(ErrorClass::Error, Msg::ErrorEvaluating); }
Status DivideByZero() { return RaiseMsg(ErrorClass::ZeroDivisionError, Msg::DivideByZero); }

// An operator that raised marks its result, so that an error the user chose to continue still ends the
// evaluation: the whole expression's value is then the empty string.
inline Status Raised(ValueToken& r, Status s) {
    r.symbol = SymEnd;
    return s;
}
inline bool WasRaised(const ValueToken& r) { return r.symbol == SymEnd; }

// Case-insensitive for A-Z only, stopping at the first NUL as the C library's comparison does.
bool EqualFoldAZ(const Char* a, const Char* b) {
    for (;; ++a, ++b) {
        Char ca = *a, cb = *b;
        if (ca >= L'A' && ca <= L'Z') ca = static_cast<Char>(ca + 32);
        if (cb >= L'A' && cb <= L'Z') cb = static_cast<Char>(cb + 32);
        if (ca != cb)
            return false;
        if (!ca)
            return true;
    }
}

int64_t IntPower(int64_t base, int64_t exp) {
    uint64_t result = 1, b = static_cast<uint64_t>(base);
    for (uint64_t e = static_cast<uint64_t>(exp); e; e >>= 1) {
        if (e & 1)
            result *= b;
        b *= b;
    }
    return static_cast<int64_t>(result);
}

// The comparisons, for integers and for doubles alike; anything else is not an operator of numbers.
template <class T>
inline Status Compare(uint32_t op, T a, T b, ValueToken& r) {
    switch (op) {
    case SymEqual: case SymStrictEqual: r.SetInteger(a == b); break;
    case SymNotEqual: case SymStrictNotEqual: r.SetInteger(a != b); break;
    case SymLess: r.SetInteger(a < b); break;
    case SymGreater: r.SetInteger(a > b); break;
    case SymLessOrEqual: r.SetInteger(a <= b); break;
    case SymGreaterOrEqual: r.SetInteger(a >= b); break;
    default: return Raised(r, ErrorEvaluating());
    }
    return Status::Ok;
}

// Integer arithmetic and comparison; wraps through unsigned casts.
inline __attribute__((always_inline)) Status IntegerOp(uint32_t op, int64_t a, int64_t b, ValueToken& r) {
    uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
    switch (op) {
    case SymAdd: r.SetInteger(static_cast<int64_t>(ua + ub)); break;
    case SymSubtract: r.SetInteger(static_cast<int64_t>(ua - ub)); break;
    case SymMultiply: r.SetInteger(static_cast<int64_t>(ua * ub)); break;
    case SymFloorDivide:
        if (b == 0)
            return Raised(r, DivideByZero());
        // INT64_MIN / -1 traps on x86: negate through unsigned instead.
        r.SetInteger(b == -1 ? static_cast<int64_t>(0 - ua) : a / b);
        break;
    case SymPower:
        if (b < 0) {
            if (a == 0)
                return Raised(r, DivideByZero());
            double m = std::pow(std::fabs(static_cast<double>(a)), static_cast<double>(b));
            r.SetFloat(a < 0 && (b & 1) ? -m : m);
        } else if (b == 0) {
            if (a == 0)
                return Raised(r, ErrorEvaluating());
            r.SetInteger(1);
        } else {
            r.SetInteger(IntPower(a, b));
        }
        break;
    case SymBitAnd: r.SetInteger(a & b); break;
    case SymBitOr: r.SetInteger(a | b); break;
    case SymBitXor: r.SetInteger(a ^ b); break;
    case SymShiftLeft:
    case SymShiftRight:
    case SymShiftRightLogical:
        if (b < 0 || b > 63)
            return Raised(r, ErrorEvaluating());
        if (op == SymShiftLeft)
            r.SetInteger(static_cast<int64_t>(ua << b));
        else if (op == SymShiftRight)
            r.SetInteger(a >> b);
        else
            r.SetInteger(static_cast<int64_t>(ua >> b));
        break;
    default: return Compare(op, a, b, r);
    }
    return Status::Ok;
}

Status FloatOp(uint32_t op, double a, double b, ValueToken& r) {
    switch (op) {
    case SymAdd: r.SetFloat(a + b); break;
    case SymSubtract: r.SetFloat(a - b); break;
    case SymMultiply: r.SetFloat(a * b); break;
    case SymDivide:
        if (b == 0.0)
            return Raised(r, DivideByZero());
        r.SetFloat(a / b);
        break;
    case SymPower:
        if (a == 0.0 && b < 0)
            return Raised(r, DivideByZero());
        if (a == 0.0 && b == 0.0)
            return Raised(r, ErrorEvaluating());
        if (a < 0) {
            if (std::floor(b) != b)
                return Raised(r, ErrorEvaluating());
            double m = std::pow(-a, b);
            r.SetFloat(std::fmod(b, 2.0) != 0.0 ? -m : m);
        } else {
            r.SetFloat(std::pow(a, b));
        }
        break;
    default: return Compare(op, a, b, r);
    }
    return Status::Ok;
}

inline bool IsEquality(uint32_t op) { return op >= SymEqual && op <= SymStrictNotEqual; }
inline bool IsIntegerOnly(uint32_t op) {
    return op == SymFloorDivide || op == SymBitAnd || op == SymBitOr || op == SymBitXor || op == SymShiftLeft ||
           op == SymShiftRight || op == SymShiftRightLogical;
}

// Every binary operator but concatenation, `is` and the assignments' own work.
Status BinaryOp(uint32_t op, const ValueToken* left, const ValueToken* right, ValueToken& r) {
    if (IsMissing(left) || IsMissing(right))
        return Raised(r, ErrorEvaluating());
    if (IsEquality(op)) {
        IObject* lo = ObjectOf(left);
        IObject* ro = ObjectOf(right);
        if (lo || ro) {
            bool same = lo == ro;
            r.SetInteger((op == SymEqual || op == SymStrictEqual) ? same : !same);
            return Status::Ok;
        }
    }
    ValueToken ln, rn;
    bool lnum, rnum;
    if (IsEquality(op) && TokenIsPureNumeric(*left) == NumericKind::None &&
        TokenIsPureNumeric(*right) == NumericKind::None) {
        lnum = rnum = false;  // two strings compare as text even when they look like numbers
    } else {
        lnum = KindOf(left) != SymObject && GetNumber(left, ln);
        rnum = KindOf(right) != SymObject && GetNumber(right, rn);
    }
    if (lnum && rnum) {
        if (ln.symbol == SymInteger && rn.symbol == SymInteger && op != SymDivide)
            return IntegerOp(op, ln.valueInt64, rn.valueInt64, r);
        if (IsIntegerOnly(op))
            return RaiseTypeError(L"Integer", ln.symbol == SymFloat ? *left : *right);
        return FloatOp(op, AsDouble(ln), AsDouble(rn), r);
    }
    if (IsEquality(op)) {
        Char lb[kScratchChars], rb[kScratchChars];
        int32_t ll, rl;
        const Char* ls = TokenToString(*left, lb, &ll);
        const Char* rs = TokenToString(*right, rb, &rl);
        bool equal;
        if (op == SymEqual || op == SymNotEqual) {
            equal = EqualFoldAZ(ls, rs);
        } else {
            if (ll < 0) ll = static_cast<int32_t>(wcslen(ls));
            if (rl < 0) rl = static_cast<int32_t>(wcslen(rs));
            equal = ll == rl && wmemcmp(ls, rs, static_cast<size_t>(ll)) == 0;
        }
        r.SetInteger((op == SymEqual || op == SymStrictEqual) ? equal : !equal);
        return Status::Ok;
    }
    // Relational, arithmetic and bitwise operators need numbers.
    return RaiseTypeError(L"Number", rnum ? *left : *right);
}

// Whether assigning to `name` on a plain object that does not own it simply creates the own value entry:
// no base defines the name (a setter, a value to shadow or a read-only property would matter) and no
// __Set is there to take the assignment. Bases that are not plain Objects are left to the general path.
bool NewOwnValueAllowed(Object* object, const Char* name) {
    for (IObject* b = object->GetBase(); b; b = b->GetBase()) {
        if (&typeid(*b) != &typeid(Object) || static_cast<Object*>(b)->FindOwnProp(name))
            return false;
    }
    return !object->FindSpecial(Object::Special::Set);
}

// The own entry `site` names in a plain object: first where it was found last time (the same class puts its
// members at the same positions; the name is the shared copy, so one pointer comparison confirms it).
inline Property* FindOwnAtSite(Object* object, CallSite* site, int* insertAt = nullptr) {
    const int k = site->ownIndex;
    if (k < object->OwnPropCount()) {
        Property& guess = object->OwnPropAt(k);
        if (guess.name == site->memberName)
            return &guess;
    }
    Property* p = object->FindOwnProp(site->memberName, insertAt);
    if (p)
        site->ownIndex = static_cast<int32_t>(p - &object->OwnPropAt(0));
    return p;
}

// The method that `object.name(...)` calls (name "Call" for `object(...)`) when object is a plain Object, such
// as a script class instance or a class, and the search meets a descriptor with a method before anything
// else of that name; null for every other case, which takes the general invoke protocol.
IObject* FindPlainMethod(IObject* object, const Char* name) {
    for (IObject* o = object; o; o = o->GetBase()) {
        if (&typeid(*o) != &typeid(Object))
            return nullptr;
        const Property* p = static_cast<Object*>(o)->FindOwnProp(name);
        if (!p)
            continue;
        return p->IsDynamic() ? p->desc->method : nullptr;
    }
    return nullptr;
}

// A method call or a new own value at a site: the answer of the target's chain is kept per site and used
// again while the target owns no such member, has the same base and no base has changed since.
IObject* FindPlainMethodAtSite(IObject* object, CallSite* site) {
    if (&typeid(*object) != &typeid(Object))
        return nullptr;
    auto* plain = static_cast<Object*>(object);
    if (plain->OwnPropCount() && plain->FindOwnProp(site->memberName))
        return FindPlainMethod(object, site->memberName);
    IObject* base = plain->GetBase();
    if (site->chainEpoch == Object::LayoutEpoch() && site->chainBase == base)
        return site->chainMethod;
    IObject* method = base ? FindPlainMethod(base, site->memberName) : nullptr;
    site->chainBase = base;
    site->chainMethod = method;
    site->chainEpoch = Object::LayoutEpoch();
    return method;
}

bool NewOwnValueAtSite(Object* object, CallSite* site) {
    IObject* base = object->GetBase();
    if (!base || (object->OwnPropCount() && object->FindOwnProp(L"__Set")))
        return NewOwnValueAllowed(object, site->memberName);
    // chainMethod is not a method here: non-null (the base) means "allowed"; the site only ever sets.
    if (site->chainEpoch == Object::LayoutEpoch() && site->chainBase == base)
        return site->chainMethod != nullptr;
    const bool allowed = NewOwnValueAllowed(object, site->memberName);
    site->chainBase = base;
    site->chainMethod = allowed ? base : nullptr;
    site->chainEpoch = Object::LayoutEpoch();
    return allowed;
}

Status MemberError(const ValueToken* target, const CallSite* site, const Char* name) {
    uint32_t kind = site->flags & CallKindMask;
    bool method = kind == CallInvoke;
    const Char* member = name ? name : (method ? L"Call" : L"__Item");
    return RaiseFormatted(method ? ErrorClass::MethodError : ErrorClass::PropertyError, nullptr, Msg::NoSuchMember,
                          TokenTypeName(*target), method ? L"method" : L"property", member);
}

// The checks before a built-in function runs, and the call.
Status CallBuiltIn(BuiltInFunc* bif, CallResult& result, ValueToken** params, int count) {
    while (count > bif->MinParams() && count > 0 && IsMissing(params[count - 1]))
        --count;  // trailing omitted arguments are simply not passed
    if (count > bif->MaxParams() && !bif->IsVariadic())
        return RaiseMsg(ErrorClass::Error, Msg::TooManyParams, bif->Name());
    if (count < bif->MinParams())
        return RaiseMsg(ErrorClass::Error, Msg::TooFewParams, bif->Name());
    const bool anyOutput = bif->def->outputParams[0] != 0;
    for (int i = 0; i < count; ++i) {
        if (i < bif->MinParams() && IsMissing(params[i]))
            return RaiseMsg(ErrorClass::Error, Msg::MissingRequiredParam);
        if (anyOutput && bif->IsOutputParam(i) && !IsMissing(params[i])) {
            const ValueToken* p = params[i];
            bool ok = (p->symbol == SymVariable && p->varUsage != VarUsageRead && p->varUsage != VarUsageMaybeUnset) ||
                      dynamic_cast<VarRef*>(ObjectOf(p));
            if (!ok)
                return RaiseParamTypeError(i, L"variable reference", *p);
        }
    }
    result.func = bif;
    result.value.SetInteger(0);
    return bif->def->routine(result, params, count);
}

// The general evaluation of a compiled expression. A plain function rather than a method of a stack
// object, so that the wrappers that end by calling it jump to it instead of adding a frame: script calls
// nest these frames deeply, and every frame costs a return the processor must predict.
Status RunExpression(ScriptLine& exprLine, ArgRecord& exprArg, Want want, CallResult* out, bool* truth);

// var is null when an error was raised, also when the script's OnError chose to continue (status Ok).
Status ResolveDynamic(const ValueToken* name, uint32_t usage, Var*& var, bool& notFound) {
    notFound = false;
    var = nullptr;
    IObject* object = ObjectOf(name);
    if (object) {
        if (auto* ref = dynamic_cast<VarRef*>(object)) {
            var = &ref->Body();
            return Status::Ok;
        }
        return RaiseTypeError(L"String or VarRef", *name);
    }
    Char buffer[kScratchChars];
    int32_t length;
    const Char* text = TokenToString(*name, buffer, &length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    if (!length)
        return RaiseMsg(ErrorClass::Error, Msg::DynamicVarBlank);
    bool globalOnly = false, notInClosure = false;
    if (usage >= VarUsageReference) {
        bool raised = false;
        var = FindVarRunTime(text, static_cast<size_t>(length), true, &globalOnly, &notInClosure, &raised);
        if (!var) {
            if (raised)
                return Status::Fail;
            if (notInClosure)
                return RaiseMsg(ErrorClass::Error, Msg::DynamicNotInClosure, text);
            return globalOnly ? RaiseMsg(ErrorClass::Error, Msg::DynamicNeedsGlobal, text)
                              : RaiseMsg(ErrorClass::Error, Msg::VariableNotFound, text);
        }
        Var* found = var;
        var = nullptr;
        if (usage == VarUsageReference && found->Target()->m_type != VarTypeNormal)
            return found->RaiseReadOnly(VarAction::TakeReference);
        if (found->IsReadOnly())
            return found->RaiseReadOnly(usage == VarUsageOutputOnly ? VarAction::Output : VarAction::Assign);
        var = found;
        return Status::Ok;
    }
    var = FindVarRunTime(text, static_cast<size_t>(length), false, &globalOnly, &notInClosure);
    if (!var) {
        if (notInClosure)
            return RaiseMsg(ErrorClass::Error, Msg::DynamicNotInClosure, text);
        if (usage == VarUsageIsSetArg || usage == VarUsageMaybeUnset) {
            notFound = true;
            return Status::Ok;
        }
        return RaiseMsg(ErrorClass::Error, Msg::VariableNotFound, text);
    }
    return Status::Ok;
}

// Text of an operand for concatenation; objects cannot be concatenated. text is null after an error, also
// when the script's OnError chose to continue (status Ok): the expression then ends with "".
inline Status ConcatText(const ValueToken* t, Char* buffer, const Char*& text, int32_t& length) {
    text = nullptr;
    if (IsMissing(t))
        return ErrorEvaluating();
    if (ObjectOf(t))
        return RaiseTypeError(L"String", *t);
    text = TokenToString(*t, buffer, &length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    return Status::Ok;
}

Status IncDecValue(const ValueToken* operand, ValueToken& old) {
    if (!GetNumber(operand, old))
        return Raised(old, RaiseTypeError(L"Number", *operand));
    return Status::Ok;
}

// Temporary text: from the arena when short, else from the heap and listed for release.
#define BRM_TEMP_TEXT(ptr, chars)                                                                     \
    do {                                                                                              \
        size_t brmBytes_ = (chars) * sizeof(Char);                                                    \
        (ptr) = brmBytes_ <= kArenaPiece ? static_cast<Char*>(ArenaTake(brmBytes_)) : nullptr;        \
        if (!(ptr)) {                                                                                 \
            (ptr) = static_cast<Char*>(malloc(brmBytes_));                                            \
            if (!(ptr)) {                                                                             \
                status = RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);                         \
                goto stop;                                                                            \
            }                                                                                         \
            temps[tempCount++] = Temp{(ptr), nullptr};                                                \
        }                                                                                             \
    } while (0)

#define BRM_STOP(expr)                       \
    do {                                     \
        status = (expr);                     \
        if (status != Status::Ok)            \
            goto stop;                       \
    } while (0)

#define BRM_FAIL(expr)  \
    do {                \
        status = (expr); \
        goto stop;      \
    } while (0)

// Takes over what a call's result owns, so that the value can stay on the stack: heap text and objects
// join the temporary list; text in the caller's scratch buffer is copied out of the way of the next call.
__attribute__((noinline)) Status KeepOwnedCallResult(CallResult& call, ValueToken* slot, const Char* scratch,
                                                     Temp* temps, int& tempCount) {
    *slot = call.value;
    if (slot->symbol == SymString) {
        if (call.memToFree) {
            temps[tempCount++] = Temp{call.memToFree, nullptr};
            call.memToFree = nullptr;
        } else if (slot->marker >= scratch && slot->marker < scratch + kScratchChars) {
            int32_t length = slot->markerLength < 0 ? static_cast<int32_t>(wcslen(slot->marker)) : slot->markerLength;
            const size_t bytes = (static_cast<size_t>(length) + 1) * sizeof(Char);
            auto* copy = static_cast<Char*>(ArenaTake(bytes));
            if (!copy) {
                copy = static_cast<Char*>(malloc(bytes));
                if (!copy)
                    return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
                temps[tempCount++] = Temp{copy, nullptr};
            }
            wmemcpy(copy, slot->marker, static_cast<size_t>(length));
            copy[length] = L'\0';
            slot->SetString(copy, length);
        }
    } else if (slot->symbol == SymObject) {
        temps[tempCount++] = Temp{nullptr, slot->object};
        call.value.SetInteger(0);
    }
    return Status::Ok;
}

// A script function without own properties is called without the extra level of CallFunction: these calls
// nest on the machine stack for every level of script recursion.
inline Status CallDirect(IObject* f, CallResult& call, ValueToken** args, int count) {
    if (&typeid(*f) == &typeid(UserFunc) && !static_cast<UserFunc*>(f)->OwnPropCount())
        return static_cast<UserFunc*>(f)->CallWith(call, args, count, nullptr);
    return CallFunction(f, call, args, count);
}

// A number, the commonest result, is simply copied.
inline Status KeepCallResult(CallResult& call, ValueToken* slot, const Char* scratch, Temp* temps, int& tempCount) {
    if (call.value.symbol == SymInteger || call.value.symbol == SymFloat) {
        slot->valueInt64 = call.value.valueInt64;
        slot->symbol = call.value.symbol;
        return Status::Ok;
    }
    return KeepOwnedCallResult(call, slot, scratch, temps, tempCount);
}

Status RunExpression(ScriptLine& exprLine, ArgRecord& exprArg, Want want, CallResult* out, bool* truth) {
    CompiledExpr& expr = *exprArg.postfix;
    const int32_t count = expr.count;
    ValueToken* const tokens = expr.tokens;
    // The working arrays of a short expression live in the frame; a longer one takes them from the arena.
    constexpr int32_t kInlineTokens = 16;
    ValueToken inlineSlots[kInlineTokens];
    ValueToken* inlineStack[kInlineTokens + 1];
    Temp inlineTemps[kInlineTokens + 1];
    ValueToken** stack = inlineStack;
    ValueToken* slots = inlineSlots;
    Temp* temps = inlineTemps;
    const size_t arenaMark = g_arenaUsed;
    // Heap arrays of a very long expression when the arena is full; given back on every exit path.
    char* heapArrays = nullptr;
    if (count > kInlineTokens) {
        const size_t bytes =
            sizeof(ValueToken) * count + sizeof(ValueToken*) * (count + 1) + sizeof(Temp) * (count + 1);
        auto* block = static_cast<char*>(ArenaTake(bytes));
        if (!block) {
            heapArrays = static_cast<char*>(malloc(bytes));
            block = heapArrays;
            if (!block)
                return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        }
        slots = reinterpret_cast<ValueToken*>(block);
        stack = reinterpret_cast<ValueToken**>(block + sizeof(ValueToken) * count);
        temps = reinterpret_cast<Temp*>(block + sizeof(ValueToken) * count + sizeof(ValueToken*) * (count + 1));
    }
    int sp = 0;
    int tempCount = 0;
    Status status = Status::Ok;
    Char scratch[kScratchChars];
    ValueToken* result = nullptr;

    for (int32_t i = 0; i < count; ++i) {
        ValueToken* t = &tokens[i];
        ValueToken* slot = &slots[i];
        uint32_t sym = t->symbol;
        switch (sym) {
        case SymString:
        case SymInteger:
        case SymFloat:
        case SymMissing:
        case SymObject:
            stack[sp++] = t;
            continue;
        case SymDynamic:
        case SymVariable: {
            Var* var;
            uint32_t usage = t->varUsage;
            if (sym == SymDynamic) {
                bool notFound;
                BRM_STOP(ResolveDynamic(stack[--sp], usage, var, notFound));
                if (!var && !notFound)
                    BRM_FAIL(Status::Ok);  // the error was shown and the script continues: the value is ""
                if (notFound) {
                    if (usage == VarUsageIsSetArg) {
                        slot->SetInteger(0);
                        stack[sp++] = slot;
                        ++i;  // the IsSet call that follows has its answer
                    } else {
                        slot->SetMissing();
                        stack[sp++] = slot;
                    }
                    continue;
                }
                slot->SetVar(var, usage);
                slot->extraPtr = nullptr;
                t = slot;
            } else {
                var = t->var;
            }
            if (usage == VarUsageReference) {
                // `&x` outside a by-reference argument: the variable's VarRef.
                VarRef* ref = var->MakeRef();
                if (!ref)
                    BRM_FAIL(Status::Fail);
                temps[tempCount++] = Temp{nullptr, ref};
                slot->SetObject(ref);
                stack[sp++] = slot;
                continue;
            }
            if (usage >= VarUsageReference || usage == VarUsageIsSetArg) {
                stack[sp++] = t;
                continue;
            }
            Var* target = var->Target();
            if (target->m_type == VarTypeVirtual) {
                CallResult getter(scratch);
                getter.value.extra = 0;
                Status s = target->m_virtual->getter(getter, var->m_name);
                if (s != Status::Ok)
                    BRM_FAIL(s);
                *slot = getter.value;
                if (slot->symbol == SymString) {
                    if (getter.memToFree) {
                        temps[tempCount++] = Temp{getter.memToFree, nullptr};
                        getter.memToFree = nullptr;
                    } else if (slot->marker == scratch) {
                        int32_t length = slot->markerLength < 0 ? static_cast<int32_t>(wcslen(scratch)) : slot->markerLength;
                        Char* copy;
                        BRM_TEMP_TEXT(copy, static_cast<size_t>(length) + 1);
                        wmemcpy(copy, scratch, static_cast<size_t>(length));
                        copy[length] = L'\0';
                        slot->SetString(copy, length);
                    }
                } else if (slot->symbol == SymObject) {
                    temps[tempCount++] = Temp{nullptr, slot->object};
                    getter.value.SetInteger(0);  // the reference moved to the temporary list
                }
                stack[sp++] = slot;
                continue;
            }
            if (!(target->m_attrib & VarAttribUnset)) {
                stack[sp++] = t;
                continue;
            }
            if (usage == VarUsageMaybeUnset) {
                slot->SetMissing();
                stack[sp++] = slot;
                continue;
            }
            BRM_FAIL(RaiseUnset(*var));
        }
        case SymSuper:
            stack[sp++] = t;  // only ever the target of a member access or call
            continue;
        case SymEnd:
            goto done;
        default:
            break;
        }

        switch (OperatorKind(sym)) {
        case OpKind::Jump: {
            ValueToken* top = stack[sp - 1];
            switch (sym) {
            case SymCoalesce:
                if (IsMissing(top))
                    --sp;
                else
                    i = static_cast<int32_t>(t->extra);
                continue;
            case SymOr:
            case SymAnd: {
                if (IsMissing(top))
                    BRM_FAIL(ErrorEvaluating());
                bool truthValue = TokenToBool(*top);
                if (truthValue == (sym == SymOr))
                    i = static_cast<int32_t>(t->extra);
                else
                    --sp;
                continue;
            }
            case SymQuestion:
                --sp;
                if (IsMissing(top))
                    BRM_FAIL(ErrorEvaluating());
                if (!TokenToBool(*top))
                    i = static_cast<int32_t>(t->extra);
                continue;
            default:  // `:` at the end of the true branch
                i = static_cast<int32_t>(t->extra);
                continue;
            }
        }
        case OpKind::Comma:
            // The left part was evaluated for its effects; the right part is the value.
            stack[sp - 2] = stack[sp - 1];
            --sp;
            continue;
        case OpKind::Prefix:
        case OpKind::Postfix: {
            ValueToken* operand = stack[sp - 1];
            switch (sym) {
            case SymNot:
            case SymLogicalNot:
                if (IsMissing(operand))
                    BRM_FAIL(ErrorEvaluating());
                slot->SetInteger(!TokenToBool(*operand));
                break;
            case SymNegate:
            case SymUnaryPlus: {
                ValueToken n;
                if (IsMissing(operand))
                    BRM_FAIL(ErrorEvaluating());
                if (KindOf(operand) == SymObject || !GetNumber(operand, n))
                    BRM_FAIL(RaiseTypeError(L"Number", *operand));
                if (sym == SymNegate) {
                    if (n.symbol == SymInteger)
                        n.SetInteger(static_cast<int64_t>(0 - static_cast<uint64_t>(n.valueInt64)));
                    else
                        n.SetFloat(-n.valueDouble);
                }
                *slot = n;
                break;
            }
            case SymBitNot: {
                ValueToken n;
                if (IsMissing(operand))
                    BRM_FAIL(ErrorEvaluating());
                if (KindOf(operand) == SymObject || !GetNumber(operand, n) || n.symbol != SymInteger)
                    BRM_FAIL(RaiseTypeError(L"Number", *operand));
                slot->SetInteger(~n.valueInt64);
                break;
            }
            case SymReference: {
                if (operand->symbol != SymVariable)
                    BRM_FAIL(ErrorEvaluating());
                VarRef* ref = operand->var->MakeRef();
                if (!ref)
                    BRM_FAIL(Status::Fail);
                temps[tempCount++] = Temp{nullptr, ref};
                slot->SetObject(ref);
                break;
            }
            default: {  // ++ and --, prefix or postfix
                if (operand->symbol != SymVariable)
                    BRM_FAIL(ErrorEvaluating());
                Var* var = operand->var;
                ValueToken old;
                BRM_STOP(IncDecValue(operand, old));
                if (WasRaised(old))
                    BRM_FAIL(Status::Ok);
                int step = (sym == SymPreIncrement || sym == SymPostIncrement) ? 1 : -1;
                if (old.symbol == SymInteger)
                    BRM_STOP(var->AssignInteger(static_cast<int64_t>(static_cast<uint64_t>(old.valueInt64) + static_cast<uint64_t>(step))));
                else
                    BRM_STOP(var->AssignFloat(old.valueDouble + step));
                if (sym == SymPostIncrement || sym == SymPostDecrement) {
                    *slot = old;
                } else if (var->Target()->m_type == VarTypeNormal) {
                    slot->SetVar(var);
                } else {
                    if (old.symbol == SymInteger)
                        slot->SetInteger(static_cast<int64_t>(static_cast<uint64_t>(old.valueInt64) + static_cast<uint64_t>(step)));
                    else
                        slot->SetFloat(old.valueDouble + step);
                }
                break;
            }
            }
            stack[sp - 1] = slot;
            continue;
        }
        case OpKind::Assign:
        case OpKind::Binary: {
            ValueToken* right = stack[--sp];
            ValueToken* left = stack[sp - 1];
            if (OperatorKind(sym) == OpKind::Assign) {
                if (left->symbol != SymVariable)
                    BRM_FAIL(ErrorEvaluating());
                Var* var = left->var;
                if (sym == SymAssign) {
                    BRM_STOP(var->Assign(*right));
                } else if (sym == SymConcatAssign) {
                    const Char* text;
                    int32_t length;
                    Char buffer[kScratchChars];
                    BRM_STOP(ConcatText(right, buffer, text, length));
                    if (!text)
                        BRM_FAIL(Status::Ok);
                    if (var->IsUnset())
                        BRM_FAIL(RaiseUnset(*var));
                    if (var->IsObject())
                        BRM_FAIL(RaiseTypeError(L"String", *left));
                    if (var->Target()->m_type != VarTypeNormal ||
                        (!var->Append(text, length) && !var->AppendGrowing(text, length))) {
                        Char lb[kScratchChars];
                        const Char* ltext;
                        int32_t llength;
                        BRM_STOP(ConcatText(left, lb, ltext, llength));
                        if (!ltext)
                            BRM_FAIL(Status::Ok);
                        size_t total = static_cast<size_t>(llength) + static_cast<size_t>(length);
                        Char* joined;
                        BRM_TEMP_TEXT(joined, total + 1);
                        wmemcpy(joined, ltext, static_cast<size_t>(llength));
                        wmemcpy(joined + llength, text, static_cast<size_t>(length));
                        joined[total] = L'\0';
                        BRM_STOP(var->AssignString(joined, static_cast<int32_t>(total)));
                    }
                } else {
                    if (var->IsUnset())
                        BRM_FAIL(RaiseUnset(*var));
                    ValueToken value;
                    uint32_t op = sym - SymAddAssign + SymAdd;
                    switch (sym) {
                    case SymAddAssign: op = SymAdd; break;
                    case SymSubtractAssign: op = SymSubtract; break;
                    case SymMultiplyAssign: op = SymMultiply; break;
                    case SymDivideAssign: op = SymDivide; break;
                    case SymFloorDivideAssign: op = SymFloorDivide; break;
                    case SymBitOrAssign: op = SymBitOr; break;
                    case SymBitXorAssign: op = SymBitXor; break;
                    case SymBitAndAssign: op = SymBitAnd; break;
                    case SymShiftLeftAssign: op = SymShiftLeft; break;
                    case SymShiftRightAssign: op = SymShiftRight; break;
                    default: op = SymShiftRightLogical; break;
                    }
                    Var* target = var->Target();
                    if ((target->m_attrib & VarAttribInteger) && right->symbol == SymInteger && op != SymDivide) {
                        BRM_STOP(IntegerOp(op, target->m_valueInt64, right->valueInt64, value));
                    } else {
                        ValueToken current;
                        var->ToToken(current);
                        BRM_STOP(BinaryOp(op, &current, right, value));
                    }
                    if (WasRaised(value))
                        BRM_FAIL(Status::Ok);
                    BRM_STOP(var->Assign(value));
                }
                if (var->Target()->m_type == VarTypeNormal) {
                    slot->SetVar(var);
                } else {
                    var->ToToken(*slot);
                }
                stack[sp - 1] = slot;
                continue;
            }
            if (sym == SymConcat) {
                Char lb[kScratchChars], rb[kScratchChars];
                const Char *ltext, *rtext;
                int32_t llength, rlength;
                BRM_STOP(ConcatText(left, lb, ltext, llength));
                if (!ltext)
                    BRM_FAIL(Status::Ok);
                BRM_STOP(ConcatText(right, rb, rtext, rlength));
                if (!rtext)
                    BRM_FAIL(Status::Ok);
                size_t total = static_cast<size_t>(llength) + static_cast<size_t>(rlength);
                if (tempCount && temps[tempCount - 1].memory == ltext && left->symbol == SymString) {
                    // A chain a . b . c ...: the left operand is the previous link's own heap text, which
                    // nothing else refers to. It grows in place (doubling), so a long chain costs linear time
                    // and memory instead of keeping every intermediate string until the expression ends.
                    Char* buffer = temps[tempCount - 1].memory;
                    const size_t capacity = _msize(buffer) / sizeof(Char);
                    if (total + 1 > capacity) {
                        const size_t grown = total + 1 > capacity * 2 ? total + 1 : capacity * 2;
                        auto* bigger = static_cast<Char*>(realloc(buffer, grown * sizeof(Char)));
                        if (!bigger)
                            BRM_FAIL(RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory));
                        buffer = temps[tempCount - 1].memory = bigger;
                    }
                    wmemcpy(buffer + llength, rtext, static_cast<size_t>(rlength));
                    buffer[total] = L'\0';
                    slot->SetString(buffer, static_cast<int32_t>(total));
                    stack[sp - 1] = slot;
                    continue;
                }
                Char* joined;
                BRM_TEMP_TEXT(joined, total + 1);
                wmemcpy(joined, ltext, static_cast<size_t>(llength));
                wmemcpy(joined + llength, rtext, static_cast<size_t>(rlength));
                joined[total] = L'\0';
                slot->SetString(joined, static_cast<int32_t>(total));
                stack[sp - 1] = slot;
                continue;
            }
            if (sym == SymIs) {
                if (IsMissing(left) || IsMissing(right))
                    BRM_FAIL(ErrorEvaluating());
                bool isInstance;
                BRM_STOP(ValueIs(*left, *right, isInstance));
                slot->SetInteger(isInstance ? 1 : 0);
                stack[sp - 1] = slot;
                continue;
            }
            int64_t li, ri;
            if (sym != SymDivide && PureInteger(left, li) && PureInteger(right, ri)) {
                BRM_STOP(IntegerOp(sym, li, ri, *slot));
            } else {
                BRM_STOP(BinaryOp(sym, left, right, *slot));
            }
            if (WasRaised(*slot))
                BRM_FAIL(Status::Ok);
            stack[sp - 1] = slot;
            continue;
        }
        case OpKind::Call: {
            auto* site = static_cast<CallSite*>(t->extraPtr);
            int n = site->paramCount;
            if ((site->flags & ~CallKeepTarget) == CallGet && !n && site->memberName && !site->func) {
                // A number or an object read from a plain object's own table needs none of the invoke
                // protocol: no code can run, so the value is simply taken (an object with a reference).
                IObject* object = ObjectOf(stack[sp - 1]);
                if (object && &typeid(*object) == &typeid(Object)) {
                    const Property* p = FindOwnAtSite(static_cast<Object*>(object), site);
                    if (p && (p->kind == PropKind::Integer || p->kind == PropKind::Float || p->kind == PropKind::Object)) {
                        p->ToToken(*slot);
                        slot->extra = 0;
                        if (p->kind == PropKind::Object) {
                            slot->object->AddRef();
                            temps[tempCount++] = Temp{nullptr, slot->object};
                        }
                        if (site->flags & CallKeepTarget)
                            stack[sp++] = slot;  // the target stays below for the assignment that follows
                        else
                            stack[sp - 1] = slot;
                        continue;
                    }
                }
            } else if (site->flags == CallSet && n == 1 && site->memberName && !site->func) {
                // Likewise a new value for a plain object's own value entry (the search would stop there).
                ValueToken* value = stack[sp - 1];
                IObject* object = ObjectOf(stack[sp - 2]);
                if (object && &typeid(*object) == &typeid(Object) && value->symbol != SymMissing &&
                    !(value->symbol == SymVariable && value->var->IsUnset())) {
                    auto* plain = static_cast<Object*>(object);
                    const Char* name = site->memberName;
                    int at = 0;
                    Property* p = FindOwnAtSite(plain, site, &at);
                    if (p && !p->IsDynamic()) {
                        Ref<IObject> hold = Ref<IObject>::Borrow(object);  // the old value may run __Delete
                        plain->Touch();
                        if (!Object::AssignProp(*p, *value))
                            BRM_FAIL(RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory));
                        stack[sp - 2] = value;  // an assignment yields the assigned value
                        --sp;
                        continue;
                    }
                    if (!p && NewOwnValueAtSite(plain, site)) {
                        // A name the chain does not know, with no __Set to ask: a new own value entry.
                        plain->Touch();
                        BRM_STOP(plain->AddOwnPropValue(name, at, *value));
                        stack[sp - 2] = value;
                        --sp;
                        continue;
                    }
                }
            } else if (site->flags == CallInvoke && site->memberName && !site->func && !site->builtIn) {
                // obj.name(args) answered by a method found along a plain object's chain: the target stands
                // right before the arguments on the stack and becomes `this` in place. (Anything else takes
                // the invoke protocol below.)
                IObject* object = ObjectOf(stack[sp - n - 1]);
                IObject* method = object ? FindPlainMethodAtSite(object, site) : nullptr;
                if (method) {
                    sp -= n + 1;
                    Ref<IObject> hold = Ref<IObject>::Borrow(object);
                    CallResult call(scratch);
                    call.value.extra = 0;
                    BRM_STOP(CallDirect(method, call, stack + sp, n + 1));
                    BRM_STOP(KeepCallResult(call, slot, scratch, temps, tempCount));
                    stack[sp++] = slot;
                    continue;
                }
            } else if (site->flags == CallInvoke && !site->memberName && !site->builtIn) {
                // The commonest call, f(args) of a script function: straight to it.
                ValueToken* below = site->func ? nullptr : stack[sp - n - 1];
                IObject* f = below ? ObjectOf(below) : site->func;
                if (f && &typeid(*f) == &typeid(UserFunc) && !static_cast<UserFunc*>(f)->OwnPropCount()) {
                    sp -= n;
                    ValueToken** args = stack + sp;
                    if (below)
                        --sp;
                    CallResult call(scratch);
                    call.value.extra = 0;
                    BRM_STOP(static_cast<UserFunc*>(f)->CallWith(call, args, n, nullptr));
                    BRM_STOP(KeepCallResult(call, slot, scratch, temps, tempCount));
                    stack[sp++] = slot;
                    continue;
                }
                if (below && f && &typeid(*f) == &typeid(Object)) {
                    // A class or other plain object called as a function: its Call method, with the object
                    // standing before the arguments as `this`.
                    IObject* method = FindPlainMethod(f, L"Call");
                    if (method) {
                        sp -= n + 1;
                        Ref<IObject> hold = Ref<IObject>::Borrow(f);
                        CallResult call(scratch);
                        call.value.extra = 0;
                        BRM_STOP(CallDirect(method, call, stack + sp, n + 1));
                        BRM_STOP(KeepCallResult(call, slot, scratch, temps, tempCount));
                        stack[sp++] = slot;
                        continue;
                    }
                }
            }
            sp -= n;
            ValueToken** params = stack + sp;
            if (site->flags & (CallObjectLiteral | CallArrayLiteral)) {
                CallResult literal(scratch);
                if (site->flags & CallArrayLiteral)
                    BRM_STOP(CreateArrayLiteral(literal, params, n));
                else
                    BRM_STOP(CreateObjectLiteral(literal, params, n));
                *slot = literal.value;
                temps[tempCount++] = Temp{nullptr, slot->object};
                literal.value.SetInteger(0);
                stack[sp++] = slot;
                continue;
            }
            if (site->flags & (CallArrayLiteral | CallObjectLiteral | CallRegExMatch)) {
                const Char* what = (site->flags & CallArrayLiteral)    ? L"Array literal"
                                   : (site->flags & CallObjectLiteral) ? L"Object literal"
                                                                       : L"The ~= operator";
                BRM_FAIL(RaiseFormatted(ErrorClass::Error, nullptr, Msg::NotAvailableYet, what));
            }
            const Char* name = site->memberName;
            ValueToken* nameToken = nullptr;
            if (site->flags & CallDynamicName) {
                nameToken = stack[--sp];
                const Char* text;
                int32_t length;
                if (ObjectOf(nameToken))
                    BRM_FAIL(RaiseTypeError(L"String", *nameToken));
                Char* nameBuffer;  // a number's text; from the arena, as the frame is kept small for recursion
                BRM_TEMP_TEXT(nameBuffer, kScratchChars);
                BRM_STOP(ConcatText(nameToken, nameBuffer, text, length));
                if (!text)
                    BRM_FAIL(Status::Ok);
                name = text;
            }
            IObject* func = site->func;
            ValueToken* target = nullptr;
            if (!func) {
                target = stack[--sp];
                if (IsMissing(target))
                    BRM_FAIL(ErrorEvaluating());
                if (site->flags & CallKeepTarget) {
                    // The set that follows needs the same target, name and index arguments: they stay where
                    // they are, under the result.
                    stack[sp++] = target;
                    if (nameToken)
                        stack[sp++] = nameToken;
                    sp += n;
                }
            }
            Ref<IObject> spreadHold;  // f(args*): the Array whose items replace the last argument, held for the call
            std::unique_ptr<char, decltype(&free)> spreadHeap(nullptr, &free);
            if (site->flags & CallVariadic) {
                auto* spread = n ? dynamic_cast<Array*>(ObjectOf(params[n - 1])) : nullptr;
                if (n && !spread && (site->flags & CallKindMask) != CallSet) {
                    // Any other enumerable value: its items, collected first.
                    Array* collected = nullptr;
                    BRM_STOP(EnumerateToArray(*params[n - 1], collected));
                    spreadHold = Ref<IObject>(collected);
                    spread = collected;
                }
                if (!spread || (site->flags & CallKindMask) == CallSet)
                    BRM_FAIL(RaiseFormatted(ErrorClass::Error, nullptr, Msg::NotAvailableYet,
                                            L"Spreading a value other than an Array"));
                if (!spreadHold)
                    spreadHold = Ref<IObject>::Borrow(spread);
                uint32_t items = spread->Length();
                const size_t pointerBytes = (sizeof(ValueToken*) * (n + items) + 15) & ~static_cast<size_t>(15);
                const size_t bytes = pointerBytes + sizeof(ValueToken) * (items + 1);
                auto* block = static_cast<char*>(ArenaTake(bytes));
                if (!block) {
                    spreadHeap.reset(static_cast<char*>(malloc(bytes)));
                    block = spreadHeap.get();
                    if (!block)
                        BRM_FAIL(RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory));
                }
                auto** expanded = reinterpret_cast<ValueToken**>(block);
                auto* values = reinterpret_cast<ValueToken*>(block + pointerBytes);
                for (int k = 0; k < n - 1; ++k)
                    expanded[k] = params[k];
                for (uint32_t k = 0; k < items; ++k) {
                    const ValueCell& c = spread->ItemAt(k);
                    switch (c.kind) {
                    case PropKind::Integer: values[k].SetInteger(c.valueInt64); break;
                    case PropKind::Float: values[k].SetFloat(c.valueDouble); break;
                    case PropKind::Object: values[k].SetObject(c.object); break;
                    case PropKind::String: values[k].SetString(c.string->text, static_cast<int32_t>(c.string->length)); break;
                    default: values[k].SetMissing(); break;
                    }
                    expanded[n - 1 + static_cast<int>(k)] = &values[k];
                }
                params = expanded;
                n = n - 1 + static_cast<int>(items);
            }
            BuiltInFunc* bif = site->builtIn;
            IObject* callee = nullptr;  // a function object, other than a classic built-in the compiler bound
            if (!bif && !name && (site->flags & CallKindMask) == CallInvoke && !(target && target->symbol == SymSuper)) {
                // A primitive has no function of its own: its type's prototype is asked for Call below.
                callee = func ? func : ObjectOf(target);
            }
            CallResult call(scratch);
            call.value.extra = 0;
            Status s;
            // (A method found along a plain object's chain was called before this general part.)
            if (target && target->symbol == SymSuper) {
                // The search starts above the prototype (or class) that defines the running method, with the
                // method's own `this`.
                auto* method = static_cast<UserFunc*>(target->pointer);
                IObject* base = method->owner->GetBase();
                ValueToken self;
                method->paramList[0].var->ToToken(self);
                Ref<IObject> hold = Ref<IObject>::Borrow(ObjectOf(&self));
                const int kind = static_cast<int>(site->flags & CallKindMask);
                s = base ? base->InvokeMember(call, kind | InvokeSuper | (name ? 0 : InvokeNoMeta), name, self, params, n)
                         : Status::NotHandled;
                if (s == Status::NotHandled)
                    s = RaiseNoMember(self, kind, name);
                if (s == Status::Ok && kind == InvokeSet) {
                    stack[sp++] = params[n - 1];
                    continue;
                }
            } else if (bif || callee) {
                // Every function object answers its own call (a classic built-in checks its arguments there),
                // so no type test is needed here.
                s = bif ? CallBuiltIn(bif, call, params, n) : CallDirect(callee, call, params, n);
            } else {
                // Properties, methods and indexing of any value. The target is held for the call, which may
                // reassign the variable that holds it.
                const int kind = static_cast<int>(site->flags & CallKindMask);
                Ref<IObject> hold = Ref<IObject>::Borrow(ObjectOf(target));
                s = InvokeValue(call, kind, name, *target, params, n);
                if (s == Status::NotHandled)
                    s = MemberError(target, site, name);
                if (s == Status::Ok && kind == InvokeSet) {
                    stack[sp++] = params[n - 1];  // an assignment yields the assigned value
                    continue;
                }
            }
            if (s != Status::Ok)
                BRM_FAIL(s);
            BRM_STOP(KeepCallResult(call, slot, scratch, temps, tempCount));
            stack[sp++] = slot;
            continue;
        }
        default:
            BRM_FAIL(ErrorEvaluating());
        }
    }
done:
    if (sp != 1)
        BRM_FAIL(ErrorEvaluating());
    result = stack[0];
    if (IsMissing(result) && want != Want::Assign && want != Want::ValueOrMissing && want != Want::Nothing)
        BRM_FAIL(ErrorEvaluating());
    switch (want) {
    case Want::Nothing:
        break;
    case Want::Truth:
        *truth = result->symbol == SymInteger ? result->valueInt64 != 0 : TokenToBool(*result);
        break;
    case Want::Assign: {
        Var* target = ArgVar(exprLine.args[0]);
        if (!target)
            BRM_FAIL(ErrorEvaluating());
        BRM_STOP(target->Assign(*result));
        break;
    }
    case Want::Value:
    case Want::ValueOrMissing: {
        ValueToken value = *result;
        if (value.symbol == SymVariable)
            value.var->ToToken(value);
        if (value.symbol == SymString) {
            int32_t length = value.markerLength < 0 ? static_cast<int32_t>(wcslen(value.marker)) : value.markerLength;
            // Hand over heap text that this evaluation owns; copy anything else.
            Char* owned = nullptr;
            for (int k = 0; k < tempCount; ++k)
                if (temps[k].memory && temps[k].memory == value.marker) {
                    owned = temps[k].memory;
                    temps[k].memory = nullptr;
                }
            if (owned) {
                out->memToFree = owned;
                out->value.SetString(owned, length);
            } else if (length < kScratchChars) {
                wmemcpy(out->buffer, value.marker, static_cast<size_t>(length));
                out->buffer[length] = L'\0';
                out->value.SetString(out->buffer, length);
            } else {
                Char* copy = static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)));
                if (!copy)
                    BRM_FAIL(RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory));
                wmemcpy(copy, value.marker, static_cast<size_t>(length));
                copy[length] = L'\0';
                out->memToFree = copy;
                out->value.SetString(copy, length);
            }
        } else if (value.symbol == SymObject) {
            value.object->AddRef();
            out->value.SetObject(value.object);
        } else {
            out->value = value;
        }
        break;
    }
    }
stop:
    g_arenaUsed = arenaMark;
    for (int k = 0; k < tempCount; ++k) {
        if (temps[k].memory)
            free(temps[k].memory);
        if (temps[k].object)
            temps[k].object->Release();
    }
    free(heapArrays);  // the temporary list may live in it
    if (status != Status::Ok && status != Status::Fail && status != Status::EarlyExit)
        status = Status::Fail;
    if (status == Status::Ok && !result) {
        // The error was shown and the user chose to continue: the value is the empty string.
        if (out)
            out->value.SetString(L"", 0);
        if (truth)
            *truth = false;
        if (want == Want::Assign) {
            if (Var* target = ArgVar(exprLine.args[0])) {
                ValueToken empty;
                empty.SetString(L"", 0);
                status = target->Assign(empty);
            }
        }
    }
    return status;
}

#undef BRM_TEMP_TEXT
#undef BRM_STOP
#undef BRM_FAIL

__attribute__((always_inline)) inline Status Evaluate(ScriptLine& line, ArgRecord& arg, Want want, CallResult* out, bool* truth) {
    if (!arg.isExpression || !arg.postfix) {
        // Plain text (a literal the compiler simplified, or a non-expression argument).
        switch (want) {
        case Want::Truth: {
            ValueToken t;
            t.SetString(arg.text, static_cast<int32_t>(arg.length));
            *truth = TokenToBool(t);
            return Status::Ok;
        }
        case Want::Assign: {
            Var* target = ArgVar(line.args[0]);
            if (!target)
                return ErrorEvaluating();
            return target->AssignString(arg.text, static_cast<int32_t>(arg.length));
        }
        case Want::Value:
        case Want::ValueOrMissing:
            out->value.SetString(arg.text, static_cast<int32_t>(arg.length));
            return Status::Ok;
        default:
            return Status::Ok;
        }
    }
    // The commonest shapes skip the general machinery: a lone variable holding a number (`return n`) and
    // an integer comparison or arithmetic of two such operands (`if n < 2`).
    const CompiledExpr& e = *arg.postfix;
    int64_t a, b;
    if (e.count == 2 && (want == Want::Value || want == Want::Truth) && PureInteger(&e.tokens[0], a)) {
        if (want == Want::Truth)
            *truth = a != 0;
        else
            out->value.SetInteger(a);
        return Status::Ok;
    }
    if (e.count == 4 && (want == Want::Value || want == Want::Truth) && e.tokens[2].symbol != SymDivide &&
        OperatorKind(e.tokens[2].symbol) == OpKind::Binary && e.tokens[2].symbol != SymConcat &&
        e.tokens[2].symbol != SymIs && PureInteger(&e.tokens[0], a) && PureInteger(&e.tokens[1], b)) {
        ValueToken r;
        Status st = IntegerOp(e.tokens[2].symbol, a, b, r);
        if (st != Status::Ok)
            return st;
        const bool continued = WasRaised(r);  // the error was shown and continued: the value is ""
        if (want == Want::Truth)
            *truth = !continued && r.valueInt64 != 0;
        else if (continued)
            out->value.SetString(L"", 0);
        else
            out->value = r;
        return Status::Ok;
    }
    return RunExpression(line, arg, want, out, truth);
}

}  // namespace

const Char* ArticleSuffix(const Char* word) {
    switch (word[0]) {
    case L'A': case L'E': case L'I': case L'O': case L'U':
    case L'a': case L'e': case L'i': case L'o': case L'u':
        return L"n";
    default:
        return L"";
    }
}

// How the type builders describe a value: "empty string" for "", else its type name; the value's text
// (an object's type name) is the error's extra text.
static const Char* DescribeValue(const ValueToken& value, Char* scratch, const Char*& text) {
    const Char* type = TokenTypeName(value);
    if (TokenKind(value) == SymObject) {
        text = type;
        return type;
    }
    text = TokenToString(value, scratch);
    return *text || TokenKind(value) != SymString ? type : L"empty string";
}

Status RaiseUnset(const Var& var) {
    // An undeclared local that shadows a global is most often a missing `global` line.
    const bool undeclaredLocal = (var.m_scope & (VarScopeLocal | VarScopeStatic | VarScopeParam | VarScopeDeclared |
                                                 VarScopeInVarRef)) == VarScopeLocal;
    const bool hint = undeclaredLocal && FindGlobal(var.m_name, wcslen(var.m_name), BuiltIns::Skip);
    return RaiseFormatted(ErrorClass::UnsetError, var.m_name, Msg::UnsetVariable, VarKindName(*var.Target()),
                          hint ? MessageText(Msg::GlobalMayBeRequired) : L"");
}

Status RaiseTypeError(const Char* expected, const ValueToken& value) {
    if (value.symbol == SymVariable && value.var->IsUnset())
        return RaiseUnset(*value.var);
    Char scratch[kScratchChars];
    const Char* text;
    const Char* got = DescribeValue(value, scratch, text);
    return RaiseFormatted(ErrorClass::TypeError, text, Msg::TypeMismatch, ArticleSuffix(expected), expected,
                          ArticleSuffix(got), got);
}

Status RaiseParamTypeError(int paramIndex, const Char* expected, const ValueToken& value) {
    if (value.symbol == SymVariable && value.var->IsUnset() && value.varUsage != VarUsageRead &&
        wcscmp(expected, L"variable reference") != 0)
        return RaiseUnset(*value.var);
    Char scratch[kScratchChars];
    const Char* text = nullptr;
    const Char* got = value.symbol == SymVariable && value.var->IsUnset() ? L"unset variable" : DescribeValue(value, scratch, text);
    if (value.symbol == SymVariable && value.var->IsUnset()) text = value.var->m_name;
    return RaiseFormatted(ErrorClass::TypeError, text, Msg::ParamTypeMismatch, paramIndex + 1,
                          ArticleSuffix(expected), expected, ArticleSuffix(got), got);
}

Status CallFunctionObject(IObject* func, CallResult& result, ValueToken** params, int paramCount) {
    if (auto* bif = dynamic_cast<BuiltInFunc*>(func))
        return CallBuiltIn(bif, result, params, paramCount);
    if (auto* callable = dynamic_cast<Func*>(func))
        return callable->Call(result, params, paramCount);
    ValueToken target;
    target.SetObject(func);
    Status s = func->InvokeMember(result, InvokeCall | InvokeNoMeta, nullptr, target, params, paramCount);
    if (s != Status::NotHandled)
        return s;
    return RaiseFormatted(ErrorClass::MethodError, nullptr, Msg::NoSuchMember, TokenTypeName(target), L"method",
                          L"Call");
}

Status EvaluateExpr(ScriptLine& line, ArgRecord& arg, CallResult& result) {
    return Evaluate(line, arg, Want::Value, &result, nullptr);
}

Status EvaluateExprAllowMissing(ScriptLine& line, ArgRecord& arg, CallResult& result) {
    return Evaluate(line, arg, Want::ValueOrMissing, &result, nullptr);
}

Status EvaluateCondition(ScriptLine& line, ArgRecord& arg, bool& truth) {
    truth = false;
    return Evaluate(line, arg, Want::Truth, nullptr, &truth);
}

Status EvaluateForEffect(ScriptLine& line, ArgRecord& arg) {
    return Evaluate(line, arg, Want::Nothing, nullptr, nullptr);
}

Status EvaluateAssign(ScriptLine& line) {
    if (line.argCount < 2)
        return ErrorEvaluating();
    return Evaluate(line, line.args[1], Want::Assign, nullptr, nullptr);
}

}  // namespace brm
