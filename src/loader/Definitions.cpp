// Function definitions at load time.
#include "loader/Definitions.h"
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>
#include "base/Messages.h"
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "exec/Scope.h"
#include "expr/Conversions.h"
#include "expr/Tokenizer.h"
#include "expr/Var.h"
#include "loader/BlockLinker.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "objects/BuiltInFunctions.h"
#include "objects/ClassInit.h"
#include "objects/Func.h"
#include "objects/NativeFunc.h"
#include "objects/ObjectArgs.h"
#include "objects/Object.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

constexpr size_t kMaxFunctionName = 253;
constexpr int kMaxParams = 255;
constexpr size_t kMaxDefaultText = 16384;
constexpr size_t kMaxLiteralDefault = 256;  // longer defaults are always computed

bool s_braceAlreadyAdded = false;

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }
size_t SkipBlanks(const Char* text, size_t i) {
    while (IsBlank(text[i])) ++i;
    return i;
}
bool EqualsFold(const Char* a, size_t aLength, const Char* b) { return CompareFoldAZ(a, aLength, b, wcslen(b)) == 0; }

// What a new function or class must not be named after: any global that exists, and the built-in variables,
// which exist whether or not the script used them yet. A built-in function's name stays free.
BuiltIns GlobalsToCheck(const Char* name, size_t length) {
    const bool builtInVarName = length > 2 && (name[0] == L'A' || name[0] == L'a') && name[1] == L'_';
    return builtInVarName ? BuiltIns::Materialise : BuiltIns::Skip;
}

// The end of a default: the next "," or ")" outside brackets and quotes.
size_t DefaultEnd(const Char* text, size_t i, size_t end) {
    int depth = 0;
    Char quote = 0;
    for (; i < end; ++i) {
        Char c = text[i];
        if (quote) {
            if (c == L'`') ++i;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == L'"' || c == L'\'') quote = c;
        else if (c == L'(' || c == L'[' || c == L'{') ++depth;
        else if (c == L')' || c == L']' || c == L'}') {
            if (depth == 0) return i;
            --depth;
        } else if (c == L',' && depth == 0) return i;
    }
    return end;
}

size_t MatchCloseParen(const Char* text, size_t open, size_t length) {
    size_t close = DefaultEnd(text, open + 1, length);
    while (close < length && text[close] == L',') close = DefaultEnd(text, close + 1, length);
    return close < length && text[close] == L')' ? close : static_cast<size_t>(-1);
}

// A quoted string with nothing after it but blanks: the text with its escapes resolved, else false.
bool QuotedDefault(const Char* text, size_t length, std::wstring& out) {
    if (length < 2 || (text[0] != L'"' && text[0] != L'\'') || text[length - 1] != text[0]) return false;
    Char quote = text[0];
    out.clear();
    for (size_t i = 1; i + 1 < length; ++i) {
        Char c = text[i];
        if (c == quote) return false;  // "a" "b" is an expression
        if (c == L'`' && i + 2 < length) {
            Char e = text[++i];
            switch (e) {
            case L'n': c = L'\n'; break;
            case L'r': c = L'\r'; break;
            case L't': c = L'\t'; break;
            case L'b': c = L'\b'; break;
            case L'f': c = L'\f'; break;
            case L'v': c = L'\v'; break;
            case L'a': c = L'\a'; break;
            case L's': c = L' '; break;
            default: c = e; break;
            }
        }
        out.push_back(c);
    }
    return true;
}

struct PendingDefault {
    int index;
    std::wstring statement;
};

// One statement of a generated __Init and the source line it comes from, so that an error in it names
// that line.
struct Initializer {
    std::wstring statement;
    uint16_t fileIndex;
    int32_t lineNumber;
};
Initializer HereInitializer(std::wstring statement) {
    return {std::move(statement), g_script.loadFileIndex, g_script.loadLineNumber};
}

// A class whose body is open: its objects, dotted name, the block its members stand in, and the
// initialiser statements collected for its generated __Init methods.
struct ClassFrame {
    Object* cls;
    Object* proto;
    std::wstring fullName;
    ScriptLine* block;
    std::vector<Initializer> instanceInit;
    std::vector<Initializer> staticInit;
    std::wstring baseName;  // as written after "extends"; empty for Object
    uint16_t headerFileIndex;  // where the class header stands
    int32_t headerLineNumber;
};
constexpr size_t kMaxClassDepth = 5;
constexpr size_t kMaxClassName = 254;
std::vector<ClassFrame> s_classes;
bool s_classBraceExpected = false;

// The method being defined and where it goes; null target for plain functions.
struct MethodTarget {
    ClassFrame* frame;
    bool isStatic;
    Char accessor = 0;                        // 'G' or 'S' for a property's getter or setter
    const std::wstring* property = nullptr;  // the property an accessor belongs to
    bool generated = false;                   // an __Init made from the class's variable initialisers
};

// A property whose accessors are being read ("Name[params] {" ... "}").
struct PropertyFrame {
    bool open = false;
    bool braceExpected = false;
    bool isStatic = false;
    std::wstring name;
    std::wstring params;  // the bracket parameters as written
};
PropertyFrame s_property;

}  // namespace

bool TakeFunctionBrace() {
    bool taken = s_braceAlreadyAdded;
    s_braceAlreadyAdded = false;
    return taken;
}

namespace {

// The header "name(params)" and what follows it. An expression function (inExpression) may be unnamed and
// has nothing after ")"; its body lines are added by the caller. *created receives the function.
Status DefineFunctionImpl(Char* text, size_t length, bool inExpression, UserFunc** created, Var** holderOut,
                          const MethodTarget* method = nullptr) {
    size_t i = 0;
    bool isStatic = false;
    while (i < length && IsNameChar(text[i])) ++i;
    if (i == 6 && EqualsFold(text, 6, L"Static") && IsBlank(text[i])) {
        isStatic = true;
        size_t skip = SkipBlanks(text, i);
        text += skip;
        length -= skip;
        i = 0;
        while (i < length && IsNameChar(text[i])) ++i;
    }
    const size_t nameLength = i;
    UserFunc* outer = LoadingFunc();
    if (isStatic && !outer) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text);
    if (nameLength > kMaxFunctionName) return ReportLoadErrorMsg(Msg::FunctionNameTooLong, text);
    const bool unnamed = inExpression && !nameLength;
    if (!unnamed && !ValidateName(text, nameLength, method ? NameKind::Method : NameKind::Function)) return Status::Fail;
    const size_t open = i;
    const size_t close = MatchCloseParen(text, open, length);
    if (close == static_cast<size_t>(-1)) return ReportLoadErrorMsg(Msg::MissingCloseParen, text);

    // The function and the variable (or class member) that holds it.
    std::wstring fullName;
    if (method) {
        fullName = method->frame->fullName + (method->isStatic ? L"." : L".Prototype.") +
                   (method->property ? *method->property + (method->accessor == L'G' ? L".Get" : L".Set")
                                     : std::wstring(text, nameLength));
        if (fullName.size() > kMaxFunctionName + 1) return ReportLoadErrorMsg(Msg::FunctionNameTooLong, text);
    } else {
        fullName.assign(text, nameLength);
    }
    Char* name = PoolStrDup(fullName.c_str(), fullName.size());
    void* memory = PoolAlloc(sizeof(UserFunc));
    if (!name || !memory) return ReportLoadErrorMsg(Msg::OutOfMemory);
    auto* func = new (memory) UserFunc(name);
    func->outer = outer;
    func->isStatic = isStatic;
    Var* holder = nullptr;
    if (method) {
        Object* target = method->isStatic ? method->frame->cls : method->frame->proto;
        func->owner = target;  // class objects and prototypes live for the whole run
        std::wstring member = method->property ? *method->property : std::wstring(text, nameLength);
        // The class's own __Init exists from its header on, the prototype's from the first instance variable
        // initialiser: the script's __Init cannot take their place.
        if (!method->generated && !method->accessor && EqualsFold(text, nameLength, L"__Init") &&
            (method->isStatic || !method->frame->instanceInit.empty()))
            return ReportLoadErrorMsg(Msg::DuplicateDeclaration, text);
        if (Property* existing = target->FindOwnProp(member.c_str())) {
            const bool taken = method->accessor == L'G'   ? existing->IsDynamic() && existing->desc->getter
                               : method->accessor == L'S' ? existing->IsDynamic() && existing->desc->setter
                                                          : existing->kind == PropKind::Object ||
                                                                (existing->IsDynamic() && existing->desc->method);
            if (taken) return ReportLoadErrorMsg(Msg::DuplicateDeclaration, text);
        }
        // The creator's reference is never released.
        if (method->accessor == L'G') {
            BRM_TRY(target->DefineGetter(member.c_str(), func));
        } else if (method->accessor == L'S') {
            BRM_TRY(target->DefineSetter(member.c_str(), func));
        } else {
            BRM_TRY(target->DefineMethod(member.c_str(), func));
        }
    } else if (unnamed) {
        // An unnamed function is held by a variable of the current scope that has no name.
        void* varMemory = PoolAlloc(sizeof(Var));
        if (!varMemory) return ReportLoadErrorMsg(Msg::OutOfMemory);
        holder = new (varMemory) Var(L"", outer ? VarScopeLocal | VarScopeStatic : VarScopeGlobal, VarTypeConstant);
        holder->m_attrib |= VarAttribAssigned;
        if (outer) {
            if (!outer->AddNested(holder, func)) return ReportLoadErrorMsg(Msg::OutOfMemory);
        } else {
            holder->m_object = func;
            holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
        }
    } else if (outer) {
        if (Var* existing = outer->vars.Find(text, nameLength))
            return ReportLoadErrorF(text, Msg::DeclarationConflict, MessageText(Msg::KindFunction), VarKindName(*existing));
        // Kept as a static until the first call of the outer function shows whether it needs a closure
        // per call; it holds its value from then on.
        holder = AddFuncVar(outer, text, nameLength, VarScopeLocal | VarScopeStatic);
        if (!holder) return Status::Fail;
        if (!outer->AddNested(holder, func)) return ReportLoadErrorMsg(Msg::OutOfMemory);
        holder->m_type = VarTypeConstant;
        holder->m_attrib |= VarAttribAssigned;
    } else {
        if (Var* existing = FindGlobal(text, nameLength, GlobalsToCheck(text, nameLength)))
            return ReportLoadErrorF(text, Msg::DeclarationConflict, MessageText(Msg::KindFunction), VarKindName(*existing));
        holder = FindOrAddGlobal(text, nameLength);
        if (!holder) return Status::Fail;
        holder->m_type = VarTypeConstant;
        holder->m_object = func;  // the variable keeps the creator's reference: functions live for the whole run
        holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
    }

    // Parameters.
    ParamRecord records[kMaxParams + 1];
    std::vector<PendingDefault> computed;
    int count = 0, required = 0;
    bool variadic = false, sawDefault = false;
    if (method) {
        // A method's hidden first parameter.
        ParamRecord& r = records[0];
        memset(&r, 0, sizeof(r));
        r.var = AddFuncVar(func, L"this", 4, VarScopeLocal | VarScopeParam);
        if (!r.var) return Status::Fail;
        func->hasHiddenThis = true;
        count = required = 1;
        if (method->accessor == L'S') {
            // A setter's second hidden parameter: the value being assigned.
            ParamRecord& v = records[1];
            memset(&v, 0, sizeof(v));
            v.var = AddFuncVar(func, L"value", 5, VarScopeLocal | VarScopeParam);
            if (!v.var) return Status::Fail;
            count = required = 2;
        }
    }
    size_t p = SkipBlanks(text, open + 1);
    while (p < close) {
        if (count >= kMaxParams) return ReportLoadErrorMsg(Msg::TooManyParamsDeclared, text);
        ParamRecord& r = records[count];
        memset(&r, 0, sizeof(r));
        if (text[p] == L'&') {
            r.byRef = 1;
            p = SkipBlanks(text, p + 1);
        }
        size_t nameStart = p;
        while (p < close && IsNameChar(text[p])) ++p;
        size_t paramNameLength = p - nameStart;
        p = SkipBlanks(text, p);
        if (text[p] == L'*') {
            variadic = true;
            if (paramNameLength) {
                if (func->vars.Find(text + nameStart, paramNameLength))
                    return ReportLoadErrorF(text + nameStart, Msg::DeclarationConflict, MessageText(Msg::KindParameter),
                                            MessageText(Msg::KindParameter));
                if (!ValidateName(text + nameStart, paramNameLength, NameKind::Variable)) return Status::Fail;
                r.var = AddFuncVar(func, text + nameStart, paramNameLength, VarScopeLocal | VarScopeParam);
                if (!r.var) return Status::Fail;
            }
            p = SkipBlanks(text, p + 1);
            if (p != close) return ReportLoadErrorMsg(Msg::MissingCloseParen, text + p);
            break;
        }
        if (!paramNameLength) return ReportLoadErrorMsg(Msg::MissingParamName, text + nameStart);
        if (!ValidateName(text + nameStart, paramNameLength, NameKind::Variable)) return Status::Fail;
        if (func->vars.Find(text + nameStart, paramNameLength))
            return ReportLoadErrorF(text + nameStart, Msg::DeclarationConflict, MessageText(Msg::KindParameter),
                                    MessageText(Msg::KindParameter));
        r.var = AddFuncVar(func, text + nameStart, paramNameLength, VarScopeLocal | VarScopeParam);
        if (!r.var) return Status::Fail;
        if (text[p] == L'?') {
            r.defaultKind = ParamDefault::Unset;
            p = SkipBlanks(text, p + 1);
        } else if (text[p] == L':' && text[p + 1] == L'=') {
            size_t d = SkipBlanks(text, p + 2);
            size_t end = DefaultEnd(text, d, close);
            size_t dl = end;
            while (dl > d && IsBlank(text[dl - 1])) --dl;
            dl -= d;
            const Char* def = text + d;
            std::wstring quoted;
            if (dl > kMaxDefaultText) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text + nameStart);
            if (!dl) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text + nameStart);
            std::wstring literal(def, dl);
            if (QuotedDefault(def, dl, quoted)) {
                r.defaultKind = ParamDefault::String;
                r.value.text = PoolStrDup(quoted.c_str(), quoted.size());
                if (!r.value.text) return ReportLoadErrorMsg(Msg::OutOfMemory);
            } else if (dl <= kMaxLiteralDefault && EqualsFold(def, dl, L"false")) {
                r.defaultKind = ParamDefault::Integer;
                r.value.integer = 0;
            } else if (dl <= kMaxLiteralDefault && EqualsFold(def, dl, L"true")) {
                r.defaultKind = ParamDefault::Integer;
                r.value.integer = 1;
            } else if (dl <= kMaxLiteralDefault && EqualsFold(def, dl, L"unset")) {
                r.defaultKind = ParamDefault::Unset;
            } else if (dl <= kMaxLiteralDefault &&
                       IsNumeric(literal.c_str(), AllowNegative::Yes, AllowEmpty::No, AllowFloat::Yes) ==
                           NumericKind::Integer) {
                r.defaultKind = ParamDefault::Integer;
                r.value.integer = ParseInt64(literal.c_str());
            } else if (dl <= kMaxLiteralDefault &&
                       IsNumeric(literal.c_str(), AllowNegative::Yes, AllowEmpty::No, AllowFloat::Yes) ==
                           NumericKind::Float) {
                r.defaultKind = ParamDefault::Float;
                r.value.number = ParseDouble(literal.c_str());
            } else {
                r.defaultKind = ParamDefault::Expression;
                computed.push_back({count, std::wstring(text + nameStart, paramNameLength) + L" := " + literal});
            }
            p = SkipBlanks(text, end);
        } else if (text[p] == L'=') {
            return ReportLoadErrorMsg(Msg::ExpectedColonEquals, text + p);
        }
        if (r.defaultKind != ParamDefault::None) {
            sawDefault = true;
        } else {
            if (sawDefault) return ReportLoadErrorMsg(Msg::ParamDefaultRequired, r.var->m_name);
            ++required;
        }
        ++count;
        if (p == close) break;
        if (text[p] != L',') return ReportLoadErrorMsg(Msg::MissingComma, text + p);
        p = SkipBlanks(text, p + 1);
        if (p == close) return ReportLoadErrorMsg(Msg::MissingParamName, text + p);
    }
    if (variadic) {
        ParamRecord& r = records[count];
        if (!r.var) memset(&r, 0, sizeof(r));
    }
    size_t recordCount = static_cast<size_t>(count) + (variadic ? 1 : 0);
    func->paramList = static_cast<ParamRecord*>(PoolAlloc(sizeof(ParamRecord) * (recordCount ? recordCount : 1)));
    if (!func->paramList) return ReportLoadErrorMsg(Msg::OutOfMemory);
    memcpy(static_cast<void*>(func->paramList), records, sizeof(ParamRecord) * recordCount);
    func->SetParamCounts(required, count, variadic);
    if (method && method->accessor)
        BRM_TRY(RefreshAccessorShape(method->isStatic ? method->frame->cls : method->frame->proto,
                                     method->property->c_str()));

    *created = func;
    if (holderOut) *holderOut = holder;
    if (inExpression) {
        BRM_TRY(AddLine(LineAction::BlockBegin));
        func->bodyBegin = g_script.lastLine;
        func->bodyBegin->attribute = func;
        for (PendingDefault& d : computed) {
            Char* args[1] = {d.statement.data()};
            BRM_TRY(AddLine(LineAction::Expression, args, 1, nullptr, true));
            func->paramList[d.index].value.line = g_script.lastLine;
            ++func->defaultLineCount;
        }
        return Status::Ok;
    }

    // What follows ")": "{", "=>" and an expression, or nothing (the "{" is on the next line).
    size_t after = SkipBlanks(text, close + 1);
    const Char* arrow = nullptr;
    size_t arrowLength = 0;
    bool braceHere = false;
    if (text[after] == L'{') {
        braceHere = true;
    } else if (text[after] == L'=' && text[after + 1] == L'>') {
        arrow = text + SkipBlanks(text, after + 2);
        arrowLength = wcslen(arrow);
        while (arrowLength && IsBlank(arrow[arrowLength - 1])) --arrowLength;
        if (!arrowLength) return ReportLoadErrorMsg(Msg::InvalidFunctionDeclaration, text);
    }
    BRM_TRY(AddLine(LineAction::BlockBegin));
    ScriptLine* begin = g_script.lastLine;
    begin->attribute = func;
    func->bodyBegin = begin;
    for (PendingDefault& d : computed) {
        std::wstring statement = d.statement;
        BRM_TRY(ParseStatement(statement.data(), statement.size(), LineAction::Expression));
        func->paramList[d.index].value.line = g_script.lastLine;
        ++func->defaultLineCount;
    }
    if (arrow) {
        std::wstring expr(arrow, arrowLength);
        BRM_TRY(ParseStatement(expr.data(), expr.size(), LineAction::Return));
        BRM_TRY(AddLine(LineAction::BlockEnd));
        func->bodyEnd = g_script.lastLine;
        return Status::Ok;
    }
    if (!braceHere) s_braceAlreadyAdded = true;
    return Status::Ok;
}

}  // namespace

Status DefineFunction(Char* text, size_t length) {
    UserFunc* func = nullptr;
    return DefineFunctionImpl(text, length, false, &func, nullptr);
}

Status DefineExpressionFunction(const Char* header, size_t headerLength, const Char* body, size_t bodyLength,
                                const bool* bodyMap, Var** holder) {
    LinkState state = SuspendLinking();
    std::wstring headerText(header, headerLength);
    std::wstring bodyText(body, bodyLength);
    UserFunc* func = nullptr;
    Status st = DefineFunctionImpl(headerText.data(), headerText.size(), true, &func, holder);
    if (st == Status::Ok) {
        Char* args[1] = {bodyText.data()};
        const bool* maps[1] = {bodyMap};
        st = AddLine(LineAction::Return, args, 1, bodyMap ? maps : nullptr, true);
    }
    if (st == Status::Ok) st = AddLine(LineAction::BlockEnd);
    if (st == Status::Ok) func->bodyEnd = g_script.lastLine;
    ResumeLinking(state);
    return st;
}

// --- Classes ---

namespace {

// Script classes by their full dotted name folded to lower case, so that "extends Outer.Inner" finds a
// nested class without initialising anything.
struct ClassEntry {
    std::wstring foldedName;
    Object* cls;
    Object* proto;
};
std::vector<ClassEntry> s_classTable;

// A base class named by "extends" before its definition: the objects stand in for the class until it is
// defined, so that classes extending it are linked to the real one. Loading fails if one is left over.
struct Placeholder {
    std::wstring foldedName;
    std::wstring name;  // as written after "extends"
    Object* cls;
    Object* proto;
    uint16_t fileIndex;  // the first "extends" that named it
    int32_t lineNumber;
};
std::vector<Placeholder> s_placeholders;

std::wstring FoldName(const Char* name, size_t length) {
    std::wstring folded(name, length);
    for (Char& c : folded)
        if (c >= L'A' && c <= L'Z') c = static_cast<Char>(c + (L'a' - L'A'));
    return folded;
}

bool FindGlobalClass(const Char* name, size_t length, Object** cls, Object** proto);

// A class by dotted name: a global class, or a script class nested in one.
bool FindClass(const Char* name, size_t length, Object** cls, Object** proto) {
    if (!wmemchr(name, L'.', length)) return FindGlobalClass(name, length, cls, proto);
    std::wstring folded = FoldName(name, length);
    for (const ClassEntry& e : s_classTable)
        if (e.foldedName == folded) {
            *cls = e.cls;
            *proto = e.proto;
            return true;
        }
    return false;
}

// A class object named by a global constant (a built-in class or an earlier script class) and its
// Prototype; false when the name is no class.
bool FindGlobalClass(const Char* name, size_t length, Object** cls, Object** proto) {
    Var* var = FindGlobal(name, length, BuiltIns::Skip);
    if (!var || !(var->m_attrib & VarAttribObject) || !var->m_object) return false;
    auto* object = dynamic_cast<Object*>(var->m_object);
    if (!object) return false;
    Property* prototype = object->FindOwnProp(L"Prototype");
    if (!prototype || prototype->kind != PropKind::Object) return false;
    auto* protoObject = dynamic_cast<Object*>(prototype->object);
    if (!protoObject) return false;
    *cls = object;
    *proto = protoObject;
    return true;
}

// The getter of a nested class: `Outer.Inner` gives the class itself, so `Outer.Inner()` constructs an
// instance instead of passing Outer to the class's Call.
Status NestedClassGet(CallResult& result, ValueToken**, int) {
    auto* cls = static_cast<Object*>(static_cast<RoutineFunc*>(result.func)->Data());
    BRM_TRY(EnsureClassInitialized(cls));
    cls->AddRef();
    result.value.SetObject(cls);
    return Status::Ok;
}

// `Outer.Inner(args)`: constructs an Inner; the `this` of the member call (Outer) is not an argument.
Status NestedClassCall(CallResult& result, ValueToken** params, int count) {
    auto* object = static_cast<Object*>(static_cast<RoutineFunc*>(result.func)->Data());
    BRM_TRY(EnsureClassInitialized(object));
    ValueToken cls;
    cls.SetObject(object);
    return InvokeValueOrFail(result, InvokeCall, nullptr, cls, params + 1, count - 1);
}

// Parses the initialiser statements as lines of the function whose body is open, each at its own source line.
Status ParseInitializers(const std::vector<Initializer>& statements) {
    const uint16_t fileIndex = g_script.loadFileIndex;
    const int32_t lineNumber = g_script.loadLineNumber;
    Status st = Status::Ok;
    for (const Initializer& init : statements) {
        g_script.loadFileIndex = init.fileIndex;
        g_script.loadLineNumber = init.lineNumber;
        std::wstring text = init.statement;
        st = ParseStatement(text.data(), text.size(), LineAction::Expression);
        if (st != Status::Ok) break;
    }
    g_script.loadFileIndex = fileIndex;
    g_script.loadLineNumber = lineNumber;
    return st;
}

// The prototype's __Init written by the script itself, which receives the instance variable initialisers.
UserFunc* ScriptInitMethod(Object* proto) {
    Property* p = proto->FindOwnProp(L"__Init");
    if (!p || !p->IsDynamic() || !p->desc->method) return nullptr;
    return dynamic_cast<UserFunc*>(p->desc->method);
}

// Appends the initialiser statements to the end of a script-written __Init: they are parsed as its lines,
// then moved from the end of the script to just before its closing "}". Lines of the body that went on at
// that "}" go on at the first moved line instead, so the body's own structure is unchanged.
Status AppendToInitMethod(UserFunc* func, const std::vector<Initializer>& statements) {
    ScriptLine* const begin = func->bodyBegin;
    ScriptLine* end = begin->nextLine;
    while (end && !(end->action == LineAction::BlockEnd && end->parentLine == begin)) end = end->nextLine;
    if (!end) return Status::Ok;
    ScriptLine* const before = g_script.lastLine;
    LinkState state = SuspendLinking();
    ScriptLine* const open = ReopenBlock(begin);
    Status st = ParseInitializers(statements);
    ReopenBlock(open);
    ResumeLinking(state);
    BRM_TRY(st);
    ScriptLine* first = before->nextLine;
    ScriptLine* last = g_script.lastLine;
    if (!first) return Status::Ok;
    before->nextLine = nullptr;
    g_script.lastLine = before;
    for (ScriptLine* l = begin->nextLine; l != end; l = l->nextLine)
        if (l->relatedLine == end) l->relatedLine = first;
    first->prevLine = end->prevLine;
    end->prevLine->nextLine = first;
    last->nextLine = end;
    end->prevLine = last;
    return Status::Ok;
}

// Adds a generated method "__Init()" to the class or its prototype with the given body statements.
Status AddInitMethod(ClassFrame& frame, bool isStatic, const std::vector<Initializer>& statements) {
    if (!isStatic)
        if (UserFunc* own = ScriptInitMethod(frame.proto)) return AppendToInitMethod(own, statements);
    std::wstring header = L"__Init(){";
    MethodTarget target{&frame, isStatic};
    target.generated = true;
    UserFunc* func = nullptr;
    LinkState state = SuspendLinking();
    Status st = DefineFunctionImpl(header.data(), header.size(), false, &func, nullptr, &target);
    if (st == Status::Ok && !isStatic) {
        // Base classes initialise their instance variables first.
        std::wstring call = L"Super.__Init()";
        st = ParseStatement(call.data(), call.size(), LineAction::Expression);
    }
    if (st == Status::Ok) st = ParseInitializers(statements);
    if (st == Status::Ok) st = AddLine(LineAction::BlockEnd);
    if (st == Status::Ok) func->bodyEnd = g_script.lastLine;
    ResumeLinking(state);
    return st;
}

// "name := expr, name2, ..." of a class body: each initialiser becomes part of one statement.
Status DeclareClassVariables(ClassFrame& frame, Char* text, size_t length, bool isStatic) {
    Object* target = isStatic ? frame.cls : frame.proto;
    std::wstring out;  // this declaration's initialisers, as one statement
    const std::wstring prefix = isStatic ? frame.fullName : std::wstring(L"this");
    size_t i = 0;
    while (i < length) {
        size_t nameStart = i;
        while (i < length && IsNameChar(text[i])) ++i;
        size_t nameLength = i - nameStart;
        if (!nameLength) return ReportLoadErrorMsg(Msg::InvalidClassVarDecl, text + nameStart);
        std::wstring name(text + nameStart, nameLength);
        Property* existing = target->FindOwnProp(name.c_str());
        const bool dotted = i < length && text[i] == L'.';
        if (dotted) {
            // "a.b := x" assigns into a variable the class already has; the chain stays as written.
            if (!existing) return ReportLoadErrorMsg(Msg::UnknownClassVar, text + nameStart);
            while (i < length && (text[i] == L'.' || IsNameChar(text[i]))) ++i;
            name.assign(text + nameStart, i - nameStart);
        } else if (existing && (!existing->IsDynamic() || existing->desc->method)) {
            return ReportLoadErrorMsg(Msg::DuplicateDeclaration, text + nameStart);
        }
        i = SkipBlanks(text, i);
        if (i < length && text[i] == L':' && text[i + 1] == L'=') {
            size_t e = SkipBlanks(text, i + 2);
            size_t end = DefaultEnd(text, e, length);
            size_t el = end;
            while (el > e && IsBlank(text[el - 1])) --el;
            if (el == e || (end < length && text[end] != L','))
                return ReportLoadErrorMsg(Msg::InvalidClassVarDecl, text + nameStart);
            if (!out.empty()) out += L", ";
            out += prefix + L"." + name + L" := " + std::wstring(text + e, el - e);
            if (out.size() > kMaxDefaultText) return ReportLoadErrorMsg(Msg::DeclarationTooLong, text + nameStart);
            i = end;
        } else if (i < length && text[i] != L',') {
            return ReportLoadErrorMsg(Msg::InvalidClassVarDecl, text + nameStart);
        }
        if (!existing && !dotted) {
            // The unset placeholder until the initialiser runs; removed at the class's end if none does.
            int at = 0;
            if (!target->FindOwnProp(name.c_str(), &at) && !target->AddOwnProp(name.c_str(), at))
                return ReportLoadErrorMsg(Msg::OutOfMemory);
        }
        if (i < length) i = SkipBlanks(text, i + 1);
    }
    if (!out.empty()) (isStatic ? frame.staticInit : frame.instanceInit).push_back(HereInitializer(out));
    return Status::Ok;
}

// The getter or setter of the property being defined, as the method "Get(params) rest" or "Set(params) rest"
// (rest: nothing, "{", or "=>" and an expression). A second one of the same kind is "Duplicate
// declaration." quoting text.
Status DefinePropertyAccessor(ClassFrame& frame, bool isGet, const Char* rest, size_t restLength, const Char* text) {
    Object* owner = s_property.isStatic ? frame.cls : frame.proto;
    if (Property* existing = owner->FindOwnProp(s_property.name.c_str()))
        if (existing->IsDynamic() && (isGet ? existing->desc->getter : existing->desc->setter))
            return ReportLoadErrorMsg(Msg::DuplicateDeclaration, text);
    std::wstring header = isGet ? L"Get(" : L"Set(";
    header += s_property.params;
    header += L')';
    if (restLength) {
        header += L' ';
        header.append(rest, restLength);
    }
    MethodTarget target{&frame, s_property.isStatic, isGet ? L'G' : L'S', &s_property.name};
    UserFunc* func = nullptr;
    return DefineFunctionImpl(header.data(), header.size(), false, &func, nullptr, &target);
}

// "Get" or "Set" in a property's accessor list, then nothing ("{" on the next line), "{", or "=>" and an
// expression.
Status DefineAccessor(ClassFrame& frame, Char* text, size_t length) {
    size_t i = 0;
    while (i < length && IsNameChar(text[i])) ++i;
    const bool isGet = EqualsFold(text, i, L"Get");
    if (!isGet && !EqualsFold(text, i, L"Set")) return ReportLoadErrorMsg(Msg::NotValidClassMember, text);
    size_t after = SkipBlanks(text, i);
    if (after < length && !(text[after] == L'{' && SkipBlanks(text, after + 1) >= length) &&
        !(text[after] == L'=' && text[after + 1] == L'>'))
        return ReportLoadErrorMsg(Msg::NotValidClassMember, text);
    return DefinePropertyAccessor(frame, isGet, text + after, after < length ? length - after : 0, text);
}

// "Name[params]" followed by nothing, "{", or "=>" and an expression: a dynamic property of the class
// (static) or its prototype. "=>" gives a getter at once; otherwise the accessors follow in braces.
Status DefineProperty(ClassFrame& frame, Char* text, size_t nameLength, size_t length, bool isStatic, bool braceNext) {
    std::wstring name(text, nameLength);
    std::wstring params;
    size_t i = SkipBlanks(text, nameLength);
    if (i < length && text[i] == L'[') {
        size_t close = i + 1;
        while (close < length && text[close] != L']') ++close;
        if (close >= length) return ReportLoadErrorF(text + i, Msg::MissingChar, L']');
        size_t first = SkipBlanks(text, i + 1);
        if (first == close) return ReportLoadErrorMsg(Msg::EmptyBrackets, text + i);
        params.assign(text + i + 1, close - i - 1);
        i = SkipBlanks(text, close + 1);
    }
    const bool arrow = i < length && text[i] == L'=' && text[i + 1] == L'>';
    const bool braceHere = i < length && text[i] == L'{' && SkipBlanks(text, i + 1) >= length;
    if (i < length && !arrow && !braceHere) return ReportLoadErrorMsg(Msg::NotValidClassMember, text);
    if (!arrow && !braceHere && !braceNext) return ReportLoadErrorMsg(Msg::NoRecognizedAction, text);
    Object* target = isStatic ? frame.cls : frame.proto;
    if (Property* existing = target->FindOwnProp(name.c_str()))
        if (existing->kind == PropKind::Object || (existing->IsDynamic() && existing->desc->method))
            return ReportLoadErrorMsg(Msg::DuplicateDeclaration, text);
    if (!target->GetOrCreateDynamicProp(name.c_str())) return ReportLoadErrorMsg(Msg::OutOfMemory);
    s_property.isStatic = isStatic;
    s_property.name = name;
    s_property.params = params;
    if (arrow) return DefinePropertyAccessor(frame, true, text + i, length - i, text);
    s_property.open = true;
    s_property.braceExpected = !braceHere;
    return Status::Ok;
}

}  // namespace

Status DefineClass(Char* text, size_t length, const Char* nextLine) {
    if (s_classes.size() >= kMaxClassDepth) return ReportLoadErrorMsg(Msg::ClassNestedTooDeep, text);
    while (length && IsBlank(text[length - 1])) --length;
    bool braceHere = false;
    if (length && text[length - 1] == L'{') {
        braceHere = true;
        --length;
        while (length && IsBlank(text[length - 1])) --length;
    }
    if (!braceHere && !(nextLine && nextLine[0] == L'{')) return ReportLoadErrorF(text, Msg::MissingChar, L'{');
    text[length] = 0;  // the line is consumed here; messages quote the header without its "{"
    size_t nameLength = 0;
    while (nameLength < length && !IsBlank(text[nameLength])) ++nameLength;
    size_t i = SkipBlanks(text, nameLength);
    Object* baseClass = nullptr;
    Object* baseProto = nullptr;
    std::wstring baseName;
    if (i < length) {
        size_t word = i;
        while (i < length && IsNameChar(text[i])) ++i;
        if (!EqualsFold(text + word, i - word, L"extends") || (i < length && !IsBlank(text[i])))
            return ReportLoadErrorMsg(Msg::SyntaxErrorInClass, text + word);
        i = SkipBlanks(text, i);
        if (i >= length) return ReportLoadErrorMsg(Msg::MissingClassName, text);
        size_t baseLength = length - i;
        baseName.assign(text + i, baseLength);
        if (!FindClass(text + i, baseLength, &baseClass, &baseProto)) {
            std::wstring folded = FoldName(text + i, baseLength);
            Placeholder* found = nullptr;
            for (Placeholder& ph : s_placeholders)
                if (ph.foldedName == folded) found = &ph;
            if (!found) {
                Object* phProto = CreatePrototype(baseName.c_str(), nullptr);
                Object* phClass = phProto ? CreateClassObject(phProto, nullptr) : nullptr;
                if (!phClass) return ReportLoadErrorMsg(Msg::OutOfMemory);
                s_placeholders.push_back(
                    {folded, baseName, phClass, phProto, g_script.loadFileIndex, g_script.loadLineNumber});
                found = &s_placeholders.back();
            }
            baseClass = found->cls;
            baseProto = found->proto;
        }
    } else {
        if (!FindClass(L"Object", 6, &baseClass, &baseProto)) return ReportLoadErrorMsg(Msg::UnknownClass, L"Object");
    }
    if (!ValidateName(text, nameLength, NameKind::Class)) return Status::Fail;
    std::wstring name(text, nameLength);
    std::wstring fullName = s_classes.empty() ? name : s_classes.back().fullName + L"." + name;
    if (fullName.size() > kMaxClassName) return ReportLoadErrorMsg(Msg::FullClassNameTooLong, text);

    Var* holder = nullptr;
    if (s_classes.empty()) {
        if (Var* existing = FindGlobal(text, nameLength, GlobalsToCheck(text, nameLength)))
            return ReportLoadErrorF(text, Msg::DeclarationConflict, MessageText(Msg::KindClass), VarKindName(*existing));
        holder = FindOrAddGlobal(text, nameLength);
        if (!holder) return Status::Fail;
    } else if (s_classes.back().cls->FindOwnProp(name.c_str())) {
        return ReportLoadErrorMsg(Msg::DuplicateDeclaration, text);
    }
    Object* proto = nullptr;
    Object* cls = nullptr;
    const std::wstring foldedFull = FoldName(fullName.c_str(), fullName.size());
    for (size_t k = 0; k < s_placeholders.size(); ++k) {
        Placeholder ph = s_placeholders[k];
        if (ph.foldedName != foldedFull) continue;
        // Classes named before their definition become this class; a class may not extend itself.
        for (IObject* b = baseClass; b; b = b->GetBase())
            if (b == ph.cls) return ReportLoadErrorAt(ph.fileIndex, ph.lineNumber, MessageText(Msg::InvalidBaseClass), ph.name.c_str());
        s_placeholders.erase(s_placeholders.begin() + static_cast<std::ptrdiff_t>(k));
        proto = ph.proto;
        cls = ph.cls;
        proto->SetBaseUnchecked(baseProto);
        cls->SetBaseUnchecked(baseClass);
        BRM_TRY(proto->SetOwnPropString(L"__Class", fullName.c_str(), static_cast<int32_t>(fullName.size())));
        break;
    }
    if (!cls) {
        proto = CreatePrototype(fullName.c_str(), baseProto);
        cls = proto ? CreateClassObject(proto, baseClass) : nullptr;
        if (!cls) return ReportLoadErrorMsg(Msg::OutOfMemory);
    }
    s_classTable.push_back({foldedFull, cls, proto});
    if (holder) {
        holder->m_type = VarTypeConstant;
        holder->m_object = cls;  // keeps the creator's reference: classes live for the whole run
        holder->m_attrib = VarAttribObject | VarAttribAssigned | VarAttribNotNumeric;
    } else {
        std::wstring getterName = fullName + L".Get";
        Char* pooled = PoolStrDup(getterName.c_str(), getterName.size());
        RoutineFunc* getter = pooled ? RoutineFunc::Create(pooled, NestedClassGet, 1, 1, false) : nullptr;
        if (!getter) return ReportLoadErrorMsg(Msg::OutOfMemory);
        getter->SetData(cls);  // the class lives for the whole run
        std::wstring callName = fullName + L".Call";
        Char* pooledCall = PoolStrDup(callName.c_str(), callName.size());
        RoutineFunc* call = pooledCall ? RoutineFunc::Create(pooledCall, NestedClassCall, 1, 1, true) : nullptr;
        if (!call) return ReportLoadErrorMsg(Msg::OutOfMemory);
        call->SetData(cls);
        Object* outer = s_classes.back().cls;
        BRM_TRY(outer->DefineGetter(name.c_str(), getter));
        BRM_TRY(outer->DefineMethod(name.c_str(), call));
        BRM_TRY(RefreshAccessorShape(outer, name.c_str()));
    }
    if (!RegisterUninitializedClass(cls, holder)) return ReportLoadErrorMsg(Msg::OutOfMemory);
    if (holder) {
        // Reaching the definition initialises the class if nothing used it before.
        Char* args[1] = {fullName.data()};
        BRM_TRY(AddLine(LineAction::Expression, args, 1, nullptr, true));
    }
    s_classes.push_back({cls, proto, fullName, OpenBlockLine(), {}, {}, baseName, g_script.loadFileIndex,
                         g_script.loadLineNumber});
    // The base class initialises first.
    if (!baseName.empty()) s_classes.back().staticInit.push_back(HereInitializer(baseName));
    if (!braceHere) s_classBraceExpected = true;
    return Status::Ok;
}

IObject* FindClassPrototype(const Char* name, size_t length) {
    Object* cls = nullptr;
    Object* proto = nullptr;
    return FindClass(name, length, &cls, &proto) ? proto : nullptr;
}

Status CheckBaseClassesDefined() {
    if (s_placeholders.empty()) return Status::Ok;
    const Placeholder& ph = s_placeholders.front();
    return ReportLoadErrorAt(ph.fileIndex, ph.lineNumber, MessageText(Msg::UnknownClass), ph.name.c_str());
}

bool InClassBody() { return !s_classes.empty() && OpenBlockLine() == s_classes.back().block && !LoadingFunc(); }

bool ClassBodyOpen() { return !s_classes.empty(); }

bool TakeClassBrace() {
    bool taken = s_classBraceExpected || s_property.braceExpected;
    s_classBraceExpected = false;
    s_property.braceExpected = false;
    return taken;
}

Status EndClass() {
    if (s_property.open) {
        s_property.open = false;  // a property's "}" closes only its accessor list
        return Status::Ok;
    }
    ClassFrame frame = s_classes.back();
    Status st = Status::Ok;
    if (!frame.instanceInit.empty()) st = AddInitMethod(frame, false, frame.instanceInit);
    if (st == Status::Ok) st = AddInitMethod(frame, true, frame.staticInit);
    // Declarations without an initialiser leave no property behind.
    for (Object* target : {frame.cls, frame.proto})
        for (int k = target->OwnPropCount() - 1; k >= 0; --k)
            if (target->OwnPropAt(k).kind == PropKind::Missing) target->DeleteOwnProp(target->OwnPropAt(k).name);
    s_classes.pop_back();
    if (st != Status::Ok) return st;
    if (!s_classes.empty()) {
        // Initialising the outer class initialises this one.
        ClassFrame& outer = s_classes.back();
        outer.staticInit.push_back({frame.fullName, frame.headerFileIndex, frame.headerLineNumber});
    }
    return Status::Ok;
}

Status DefineClassMember(Char* text, size_t length, const Char* nextLine) {
    ClassFrame& frame = s_classes.back();
    if (s_property.open) return DefineAccessor(frame, text, length);
    bool isStatic = false;
    size_t i = 0;
    while (i < length && IsNameChar(text[i])) ++i;
    if (i == 6 && EqualsFold(text, 6, L"Static") && IsBlank(text[i])) {
        isStatic = true;
        size_t skip = SkipBlanks(text, i);
        text += skip;
        length -= skip;
        i = 0;
        while (i < length && IsNameChar(text[i])) ++i;
    }
    if (length > 6 && EqualsFold(text, 5, L"Class") && IsBlank(text[5]) && !isStatic)
        return DefineClass(text + SkipBlanks(text, 5), length - SkipBlanks(text, 5), nextLine);
    if (i && text[i] == L'(') {
        size_t close = MatchCloseParen(text, i, length);
        if (close != static_cast<size_t>(-1)) {
            size_t after = SkipBlanks(text, close + 1);
            bool isDefinition = (after == length && nextLine && nextLine[0] == L'{') ||
                                (text[after] == L'{' && after + 1 == length) ||
                                (text[after] == L'=' && text[after + 1] == L'>');
            if (isDefinition) {
                MethodTarget target{&frame, isStatic};
                UserFunc* func = nullptr;
                return DefineFunctionImpl(text, length, false, &func, nullptr, &target);
            }
        }
    }
    size_t after = SkipBlanks(text, i);
    // After the name (dots included) ":=" starts class variable declarations; the end of the line, "[",
    // "{" or "=>" define a property, whose accessors then follow in braces unless "=>" gives the getter.
    size_t dottedEnd = i;
    while (dottedEnd < length && (IsNameChar(text[dottedEnd]) || text[dottedEnd] == L'.')) ++dottedEnd;
    size_t assign = SkipBlanks(text, dottedEnd);
    if (i && assign + 1 < length && text[assign] == L':' && text[assign + 1] == L'=')
        return DeclareClassVariables(frame, text, length, isStatic);
    const bool braceNext = nextLine && nextLine[0] == L'{';
    if (i && (text[after] == L'[' || text[after] == L'{' || after >= length || (text[after] == L'=' && text[after + 1] == L'>')))
        return DefineProperty(frame, text, i, length, isStatic, braceNext);
    return ReportLoadErrorMsg(Msg::NotValidClassMember, text);
}

}  // namespace brm
