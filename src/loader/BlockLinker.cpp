// Block linking while lines are added, and the jump checks made once the whole script is loaded.
//
// Invariants while loading: `s_pending` is the control statement still waiting for its body; `s_completed`
// is the statement whose body has just ended and which takes the next line as its related line (and so
// do its ancestors up to the enclosing block); at most one of the two is set.
#include "loader/BlockLinker.h"
#include <cstring>
#include <cwchar>
#include "base/Pool.h"
#include "exec/GlobalVars.h"
#include "exec/Scope.h"
#include "expr/Compiler.h"
#include "expr/Conversions.h"
#include "expr/Tokenizer.h"
#include "expr/Var.h"
#include "exec/Raise.h"
#include "loader/Definitions.h"
#include "loader/Directives.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "objects/BuiltInFunctions.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

ScriptLine* s_openBlock = nullptr;
ScriptLine* s_pending = nullptr;
ScriptLine* s_completed = nullptr;
Label* s_labelsFirst = nullptr;
Label* s_labelsLast = nullptr;
bool s_labelsHeld = false;  // lines of an expression function take no pending label

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }

bool IsControl(LineAction a) {
    switch (a) {
    case LineAction::If: case LineAction::Else: case LineAction::Loop: case LineAction::LoopFiles:
    case LineAction::LoopReg: case LineAction::LoopRead: case LineAction::LoopParse: case LineAction::For:
    case LineAction::While: case LineAction::Try: case LineAction::Catch: case LineAction::Finally:
    case LineAction::Switch:
        return true;
    default:
        return false;
    }
}

// A function body's "{" carries its function; no other BlockBegin has an attribute.
bool IsFunctionBody(const ScriptLine* line) { return line->action == LineAction::BlockBegin && line->attribute; }

bool Matches(LineAction attach, const ScriptLine* s) {
    switch (attach) {
    case LineAction::Else:
        return s->action == LineAction::If || IsLoopAction(s->action) || s->action == LineAction::Catch;
    case LineAction::Until:
        return IsLoopAction(s->action) && s->action != LineAction::While;
    case LineAction::Catch:
        return s->action == LineAction::Try || s->action == LineAction::Catch;
    case LineAction::Finally:
        return s->action == LineAction::Try || s->action == LineAction::Catch ||
               (s->action == LineAction::Else && s->attribute &&
                static_cast<const ScriptLine*>(s->attribute)->action == LineAction::Catch);
    default:
        return false;
    }
}

Status ReportAt(const ScriptLine* line, Msg id, const Char* extra = nullptr) {
    return ReportLoadErrorAt(line->fileIndex, line->lineNumber, MessageText(id), extra);
}

Status ReportUnexpected(const ScriptLine* line) {
    Char text[64];
    FormatMessageText(text, sizeof(text) / sizeof(text[0]), MessageText(Msg::UnexpectedWord), ActionWord(line->action));
    return ReportLoadErrorAt(line->fileIndex, line->lineNumber, text);
}

// The loop a Break or Continue leaves; null after reporting.
Status FindJumpLoop(ScriptLine* line, ScriptLine** target, bool* innermost) {
    const ArgRecord* arg = line->argCount ? &line->args[0] : nullptr;
    int64_t levels = 1;
    Label* label = nullptr;
    if (arg && arg->length) {
        if (IsNumeric(arg->text, AllowNegative::No, AllowEmpty::No, AllowFloat::No) == NumericKind::Integer) {
            levels = ParseInt64(arg->text);
        } else {
            label = FindLabel(arg->text, arg->length, LabelScopeOf(line));
            if (!label) return ReportAt(line, Msg::LabelNotFound, arg->text);
        }
    }
    bool anyLoop = false;
    int64_t level = 0;
    for (ScriptLine* p = line->parentLine; p; p = p->parentLine) {
        if (p->action == LineAction::Finally || IsFunctionBody(p)) break;
        if (!IsLoopAction(p->action)) continue;
        anyLoop = true;
        ++level;
        if (label ? label->line == p : level == levels) {
            *target = p;
            *innermost = level == 1;
            return Status::Ok;
        }
    }
    if (!anyLoop) return ReportAt(line, Msg::BreakOutsideLoop);
    return ReportAt(line, Msg::Param1Invalid, arg ? arg->text : nullptr);
}

Status ParseCatchClasses(ScriptLine* line) {
    auto* info = static_cast<CatchInfo*>(line->attribute);
    if (!info) {
        info = static_cast<CatchInfo*>(PoolAlloc(sizeof(CatchInfo)));
        if (!info) return ReportAt(line, Msg::OutOfMemory);
        memset(info, 0, sizeof(*info));
        line->attribute = info;
    }
    if (!line->argCount) return Status::Ok;
    const Char* text = line->args[0].text;
    const Char* p = text;
    while (IsBlank(*p)) ++p;
    while (*p) {
        const Char* name = p;
        while (IsNameChar(*p) || *p == L'.') ++p;
        if (p == name) return ReportAt(line, Msg::SyntaxError, name);
        ThrowClass cls = ThrowClass::Count;
        IObject* prototype = nullptr;
        if (!FindThrowClass(name, static_cast<size_t>(p - name), cls)) {
            // A class of the script: matched through the thrown object's chain of bases.
            prototype = FindClassPrototype(name, static_cast<size_t>(p - name));
            if (!prototype) return ReportAt(line, Msg::InvalidClass, name);
        }
        if (info->classCount == kMaxCatchClasses) return ReportAt(line, Msg::TooManyClasses, name);
        info->prototypes[info->classCount] = prototype;
        info->classes[info->classCount++] = cls;
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        if (*p != L',') return ReportAt(line, Msg::SyntaxError, p);
        ++p;
        while (IsBlank(*p)) ++p;
        if (!*p) return ReportAt(line, Msg::SyntaxError, text);
    }
    return Status::Ok;
}

void WarnUnreachable(const ScriptLine* line) {
    if (g_directives.warnUnreachable == WarnMode::Off) return;
    const ScriptLine* next = line->nextLine;
    if (!next || next->parentLine != line->parentLine) return;
    if (next->action == LineAction::BlockEnd || next->action == LineAction::Exit || next->action == LineAction::Case)
        return;
    if (LineHasLabel(next)) return;
    Char text[128];
    FormatMessageText(text, sizeof(text) / sizeof(text[0]), MessageText(Msg::NeverExecute), ActionWord(line->action));
    EmitWarning(g_directives.warnUnreachable, next->fileIndex, next->lineNumber, text);
}

}  // namespace

bool IsLoopAction(LineAction a) {
    return (a >= LineAction::Loop && a <= LineAction::LoopParse) || a == LineAction::For || a == LineAction::While;
}

ScriptLine* OpenBlockLine() { return s_openBlock; }

ScriptLine* ReopenBlock(ScriptLine* block) {
    ScriptLine* previous = s_openBlock;
    s_openBlock = block;
    return previous;
}

ScriptLine* PendingControlLine() { return s_pending; }

Label* FindLabel(const Char* name, size_t length, const UserFunc* scope) {
    for (Label* l = s_labelsFirst; l; l = l->next)
        if (l->scope == scope && CompareFoldAZ(l->name, wcslen(l->name), name, length) == 0) return l;
    return nullptr;
}

UserFunc* LabelScopeOf(const ScriptLine* line) { return FuncOfLine(line); }

bool LineHasLabel(const ScriptLine* line) {
    for (Label* l = s_labelsFirst; l; l = l->next)
        if (l->line == line) return true;
    return false;
}

Status AddLabel(const Char* name, size_t length) {
    UserFunc* scope = LoadingFunc();
    if (FindLabel(name, length, scope)) {
        Char shown[256];
        size_t n = length < 255 ? length : 255;
        memcpy(shown, name, n * sizeof(Char));
        shown[n] = 0;
        return ReportLoadErrorMsg(Msg::DuplicateLabel, shown);
    }
    auto* label = static_cast<Label*>(PoolAlloc(sizeof(Label)));
    Char* copy = PoolStrDup(name, length);
    if (!label || !copy) return ReportLoadErrorMsg(Msg::OutOfMemory);
    label->name = copy;
    label->scope = scope;
    label->line = nullptr;
    label->prev = s_labelsLast;
    label->next = nullptr;
    if (s_labelsLast) s_labelsLast->next = label;
    else s_labelsFirst = label;
    s_labelsLast = label;
    return Status::Ok;
}

Status LinkNewLine(ScriptLine* line) {
    const LineAction action = line->action;

    // Else, Until, Catch and Finally belong to the nearest statement that can take them.
    if (action == LineAction::Else || action == LineAction::Until || action == LineAction::Catch ||
        action == LineAction::Finally) {
        ScriptLine* s = s_completed;
        if (s && s->action == LineAction::BlockBegin) s = s->parentLine;
        for (; s && s->action != LineAction::BlockBegin; s = s->parentLine) {
            if (Matches(action, s)) break;
            if (action == LineAction::Else && s->action == LineAction::Try) s = nullptr;
            if (!s) break;
        }
        if (!s || s->action == LineAction::BlockBegin) return ReportUnexpected(line);
        line->parentLine = s->parentLine;
        if (action != LineAction::Catch) line->attribute = s;  // Else and Until remember whom they follow
    }

    if (action == LineAction::Case) {
        ScriptLine* block = s_openBlock;
        ScriptLine* sw = block ? block->parentLine : nullptr;
        if (!sw || sw->action != LineAction::Switch || s_pending) return ReportUnexpected(line);
        if (block->nextLine != line) {
            auto* lastCase = static_cast<ScriptLine*>(sw->attribute);
            if (lastCase) lastCase->relatedLine = line;
        }
        sw->attribute = line;  // the last Case so far (load time only)
    }

    // The completed statement (and its ancestors whose bodies ended here) continue at this line.
    for (ScriptLine* s = s_completed; s;) {
        s->relatedLine = line;
        ScriptLine* parent = s->parentLine;
        if (action == LineAction::Until && IsLoopAction(s->action)) {
            s_completed = parent && parent->action != LineAction::BlockBegin ? parent : nullptr;
            break;
        }
        if (!parent || parent->action == LineAction::BlockBegin) {
            s_completed = nullptr;
            break;
        }
        s = parent;
    }
    if (action != LineAction::Until) s_completed = nullptr;

    if (s_pending) {
        line->parentLine = s_pending;
        if (action != LineAction::BlockBegin) s_completed = s_pending;
        s_pending = nullptr;
    }
    if (IsControl(action)) {
        s_pending = line;
        s_completed = nullptr;
    }
    if (!line->parentLine) line->parentLine = s_openBlock;
    if (action == LineAction::BlockBegin) s_openBlock = line;

    for (Label* l = s_labelsHeld ? nullptr : s_labelsLast; l && !l->line; l = l->prev) {
        if (action == LineAction::Else || action == LineAction::Until || action == LineAction::Catch)
            return ReportLoadErrorMsg(Msg::LabelOnElse);
        l->line = line;
    }

    if (action == LineAction::BlockEnd) {
        if (!s_openBlock || line->parentLine != s_openBlock) return ReportUnexpected(line);
        ScriptLine* block = s_openBlock;
        s_completed = block;
        if (block->parentLine && block->parentLine->action == LineAction::Switch) {
            ScriptLine* first = block->nextLine;
            if (first != line && first->action != LineAction::Case) return ReportAt(first, Msg::ExpectedCase);
            block->parentLine->attribute = nullptr;
        }
        ScriptLine* outer = block->parentLine;
        while (outer && outer->action != LineAction::BlockBegin) outer = outer->parentLine;
        s_openBlock = outer;
    }

    if (action == LineAction::Return && line->argCount && line->args[0].length) {
        const ScriptLine* p = line->parentLine;
        while (p && !IsFunctionBody(p)) p = p->parentLine;
        if (!p) return ReportLoadErrorMsg(Msg::ReturnOutsideFunction);
    }
    return Status::Ok;
}

LinkState SuspendLinking() {
    LinkState state{s_pending, s_completed};
    s_pending = s_completed = nullptr;
    s_labelsHeld = true;
    return state;
}

void ResumeLinking(const LinkState& state) {
    s_pending = state.pending;
    s_completed = state.completed;
    s_labelsHeld = false;
}

Status CheckEndOfFile(bool startedInsideBlock) {
    if (!startedInsideBlock && s_openBlock) return ReportAt(s_openBlock, Msg::MissingCloseBrace);
    if (s_pending) return ReportUnexpected(s_pending);
    return Status::Ok;
}

Status PrepareCatchOutputVar(ScriptLine& line) {
    auto* info = static_cast<CatchInfo*>(PoolAlloc(sizeof(CatchInfo)));
    if (!info) return ReportLoadErrorMsg(Msg::OutOfMemory);
    memset(info, 0, sizeof(*info));
    line.attribute = info;
    ArgRecord& arg = line.args[0];
    Char* text = const_cast<Char*>(arg.text);
    size_t length = arg.length;
    size_t nameEnd = length;
    while (nameEnd && IsBlank(text[nameEnd - 1])) --nameEnd;
    size_t nameStart = nameEnd;
    while (nameStart && IsNameChar(text[nameStart - 1])) --nameStart;
    if (nameStart == nameEnd) return Status::Ok;
    size_t asEnd = nameStart;
    while (asEnd && IsBlank(text[asEnd - 1])) --asEnd;
    if (asEnd == nameStart || asEnd < 2) return Status::Ok;
    size_t asStart = asEnd - 2;
    if (CompareFoldAZ(text + asStart, 2, L"as", 2) != 0) return Status::Ok;
    // "Class as name", or "as name" alone: a class list never ends in the word "as".
    if (asStart && !IsBlank(text[asStart - 1])) return Status::Ok;
    Var* var = FindOrAddVar(text + nameStart, nameEnd - nameStart, VarUse::Write);
    if (!var) return Status::Fail;
    if (var->IsReadOnly()) {
        const Char* action = MessageText(Msg::ActionBeOutput);
        return ReportLoadErrorF(text + nameStart, Msg::CannotDo, VarKindName(*var), action);
    }
    var->Target()->m_attrib |= VarAttribAssigned;
    info->outputVar = var;
    while (asStart && IsBlank(text[asStart - 1])) --asStart;
    text[asStart] = 0;
    arg.length = static_cast<uint32_t>(asStart);
    return Status::Ok;
}

Status ResolveGoto(ScriptLine* gotoLine, const Char* labelName, size_t length, JumpCheck when, ScriptLine** target) {
    auto fail = [&](Msg id, const Char* extra) {
        if (when == JumpCheck::RunTime) return RaiseMsg(ErrorClass::Error, id, extra);
        return ReportAt(gotoLine, id, extra);
    };
    Label* label = length ? FindLabel(labelName, length, LabelScopeOf(gotoLine)) : nullptr;
    if (!label || !label->line) return fail(Msg::LabelNotFound, labelName);
    ScriptLine* targetParent = label->line->parentLine;
    for (ScriptLine* p = gotoLine->parentLine; p != targetParent; p = p->parentLine) {
        if (!p) return fail(Msg::GotoIntoBlock, nullptr);
        if (p->action == LineAction::Finally) return fail(Msg::JumpOutOfFinally, nullptr);
    }
    *target = label->line;
    return Status::Ok;
}

Status CheckJumps() {
    for (ScriptLine* line = g_script.firstLine; line; line = line->nextLine) {
        g_script.loadFileIndex = line->fileIndex;
        g_script.loadLineNumber = line->lineNumber;
        switch (line->action) {
        case LineAction::Break:
        case LineAction::Continue: {
            if (line->argCount && line->args[0].isExpression) break;
            ScriptLine* loop = nullptr;
            bool innermost = true;
            BRM_TRY(FindJumpLoop(line, &loop, &innermost));
            if (innermost) break;
            if (line->action == LineAction::Continue) {
                line->relatedLine = loop;
            } else {
                ScriptLine* after = loop->relatedLine;
                if (after && after->action == LineAction::Until && after->attribute == loop) after = after->nextLine;
                line->relatedLine = after;
            }
            break;
        }
        case LineAction::Goto:
            if (line->args[0].isExpression) break;
            BRM_TRY(ResolveGoto(line, line->args[0].text, line->args[0].length, JumpCheck::LoadTime, &line->relatedLine));
            break;
        case LineAction::Return:
            for (ScriptLine* p = line->parentLine; p && !IsFunctionBody(p); p = p->parentLine)
                if (p->action == LineAction::Finally) return ReportAt(line, Msg::JumpOutOfFinally);
            break;
        case LineAction::Catch:
            BRM_TRY(ParseCatchClasses(line));
            break;
        default:
            break;
        }
        for (int i = 0; i < line->argCount; ++i)
            if (line->args[i].postfix) BRM_TRY(ValidateExpression(*line, line->args[i]));
        switch (line->action) {
        case LineAction::Break: case LineAction::Continue: case LineAction::Goto: case LineAction::Return:
        case LineAction::Throw:
            WarnUnreachable(line);
            break;
        default:
            break;
        }
    }
    return Status::Ok;
}

}  // namespace brm
