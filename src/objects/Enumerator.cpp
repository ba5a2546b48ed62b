// The enumeration protocol and IndexEnumerator.
#include "objects/Enumerator.h"
#include "base/Messages.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "objects/Array.h"
#include "objects/VarRef.h"

namespace brm {

namespace {

void Unset(Var* v) {
    if (!v) return;
    ValueToken missing;
    missing.SetMissing();
    (void)v->Assign(missing);
}

}  // namespace

Var* ReferencedVar(ValueToken& token) {
    if (token.symbol == SymVariable) return token.var->Target();
    if (token.symbol == SymObject)
        if (auto* ref = dynamic_cast<VarRef*>(token.object)) return ref->Body().Target();
    return nullptr;
}

IndexEnumerator::IndexEnumerator(Object* target, EnumStep step, int varCount)
    : Func(L"", 0, varCount, false), m_target(target), m_step(step) {
    target->AddRef();
}

IndexEnumerator::~IndexEnumerator() { m_target->Release(); }

IndexEnumerator* IndexEnumerator::Create(Object* target, EnumStep step, int varCount) {
    return new (std::nothrow) IndexEnumerator(target, step, varCount);
}

IObject* IndexEnumerator::GetBase() { return BuiltInPrototype(ClassId::Enumerator); }

Status IndexEnumerator::Call(CallResult& result, ValueToken** params, int count) {
    int mode = m_maxParams ? m_maxParams : (count >= 2 ? 2 : 1);
    Var* first = count >= 1 ? ReferencedVar(*params[0]) : nullptr;
    Var* second = count >= 2 && mode >= 2 ? ReferencedVar(*params[1]) : nullptr;
    Unset(first);
    Unset(second);
    ++m_position;
    StepResult step = StepResult::End;
    if (m_position >= 0 && m_position <= static_cast<int64_t>(UINT32_MAX)) {
        uint32_t position = static_cast<uint32_t>(m_position);
        Status st = m_step(m_target, position, mode, first, second, step);
        m_position = position;  // a step may skip entries
        if (st != Status::Ok) {
            result.result = st;
            return st;
        }
    }
    result.value.SetInteger(step == StepResult::Continue ? 1 : 0);
    return Status::Ok;
}

Status GetEnumerator(ValueToken& value, int varCount, IObject*& enumerator) {
    enumerator = nullptr;
    Char scratch[kScratchChars];
    CallResult r(scratch);
    ValueToken count;
    count.SetInteger(varCount);
    ValueToken* params[1] = {&count};
    Status st = InvokeValue(r, InvokeCall | InvokeNoMeta | InvokeEnum, L"__Enum", value, params, 1);
    if (st == Status::NotHandled) {
        // Without __Enum the value is its own enumerator; a primitive's prototype stands in for it.
        ValueToken v = value;
        if (v.symbol == SymVariable) v.var->ToToken(v);
        IObject* self = v.symbol == SymObject ? v.object : PrimitivePrototype(v);
        if (!self) return RaiseMsg(ErrorClass::TypeError, Msg::NotEnumerable);
        self->AddRef();
        enumerator = self;
        return Status::Ok;
    }
    if (st != Status::Ok) return st;
    if (r.value.symbol != SymObject || !r.value.object)
        return RaiseMsg(ErrorClass::TypeError, Msg::TypeMismatchPlain, L"__Enum");
    enumerator = r.value.object;  // the result's reference moves to the caller
    r.value.SetString(L"", 0);
    return Status::Ok;
}

Status CallEnumerator(IObject* enumerator, ValueToken** refs, int count, bool& more) {
    more = false;
    if (!enumerator)
        return Status::Ok;  // the error of GetEnumerator was shown and continued: nothing to enumerate
    for (int i = 0; i < count; ++i) Unset(ReferencedVar(*refs[i]));
    Char scratch[kScratchChars];
    CallResult r(scratch);
    Status st;
    if (auto* f = dynamic_cast<Func*>(enumerator)) {
        st = f->Call(r, refs, count);
    } else {
        ValueToken self;
        self.SetObject(enumerator);
        st = enumerator->InvokeMember(r, InvokeCall, nullptr, self, refs, count);
        if (st == Status::NotHandled) return RaiseMsg(ErrorClass::TypeError, Msg::NotEnumerable);
    }
    if (st != Status::Ok) return st;
    more = TokenToBool(r.value);
    return Status::Ok;
}

Status OwnPropsStep(Object* target, uint32_t& position, int mode, Var* first, Var* second, StepResult& step) {
    // Dynamic properties that cannot be read without arguments are skipped in mode 2: the position moves on.
    for (;; ++position) {
        if (position >= static_cast<uint32_t>(target->OwnPropCount())) {
            step = StepResult::End;
            return Status::Ok;
        }
        Property& prop = target->OwnPropAt(static_cast<int>(position));
        if (mode < 2) {
            step = StepResult::Continue;
            return first ? first->AssignString(prop.name) : Status::Ok;
        }
        if (!prop.IsDynamic()) {
            ValueToken value;
            prop.ToToken(value);
            if (first) BRM_TRY(first->AssignString(prop.name));
            if (second) BRM_TRY(second->Assign(value));
            step = StepResult::Continue;
            return Status::Ok;
        }
        PropDesc* d = prop.desc;
        if (!d->getter || d->getterNeedsArgs || target->IsPrototype()) continue;
        if (first) BRM_TRY(first->AssignString(prop.name));
        Char scratch[kScratchChars];
        CallResult r(scratch);
        ValueToken self;
        self.SetObject(target);
        ValueToken* params[1] = {&self};
        BRM_TRY(CallFunction(d->getter, r, params, 1));
        if (second) BRM_TRY(second->Assign(r.value));
        step = StepResult::Continue;
        return Status::Ok;
    }
}

Status EnumerateToArray(ValueToken& value, Array*& out) {
    out = nullptr;
    IObject* enumerator = nullptr;
    BRM_TRY(GetEnumerator(value, 1, enumerator));
    Ref<IObject> owner(enumerator);
    Ref<VarRef> ref(VarRef::Create());
    Ref<Array> array(Array::Create());
    if (!ref || !array)
        return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    ValueToken refToken;
    refToken.SetObject(ref.get());
    ValueToken* params[1] = {&refToken};
    for (;;) {
        bool more = false;
        BRM_TRY(CallEnumerator(enumerator, params, 1, more));
        if (!more)
            break;
        ValueToken item;
        ref->Body().ToToken(item);
        ValueToken* p = &item;
        BRM_TRY(array->Append(&p, 1));
    }
    out = array.get();
    out->AddRef();
    return Status::Ok;
}

}  // namespace brm
