// Buffer's block, its construction and size changes, and the Buffer-like rule.
#include "objects/Buffer.h"
#include <cstdlib>
#include <cstring>
#include <new>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/NativeClass.h"

namespace brm {

namespace {

enum BufferMember : uint8_t { kPtr, kSize, kNew };

const ObjectMemberDef kBufferMembers[] = {
    {L"__New", MemberThunk<BufferObject, &BufferObject::Member>, kNew, MemberKind::Method, 0, 2},
    {L"Ptr", MemberThunk<BufferObject, &BufferObject::Member>, kPtr, MemberKind::ReadOnlyProperty, 0, 0},
    {L"Size", MemberThunk<BufferObject, &BufferObject::Member>, kSize, MemberKind::ReadWriteProperty, 0, 0},
};

// A block is addressed by 32-bit Ptr and Size values, so no size beyond 32 bits is meaningful.
constexpr int64_t kMaxBufferSize = 0xFFFFFFFFLL;

bool IsOmitted(ValueToken** params, int count, int i) {
    if (i >= count || !params[i]) return true;
    const ValueToken* t = params[i];
    return t->symbol == SymMissing || (t->symbol == SymVariable && t->var->IsUnset());
}

}  // namespace

BufferObject::BufferObject() : Object(BuiltInPrototype(ClassId::Buffer)) {}

BufferObject::~BufferObject() { free(m_data); }

BufferObject* BufferObject::Create() { return new (std::nothrow) BufferObject(); }

BufferObject* BufferObject::Adopt(void* data, uint32_t size) {
    BufferObject* b = Create();
    if (!b) {
        free(data);
        return nullptr;
    }
    b->m_data = size ? data : nullptr;
    b->m_size = size;
    if (!size) free(data);
    return b;
}

bool BufferObject::Resize(uint32_t size) {
    if (size == m_size) return true;
    if (size == 0) {
        free(m_data);
        m_data = nullptr;
        m_size = 0;
        return true;
    }
    void* block = realloc(m_data, size);
    if (!block) return false;
    m_data = block;
    m_size = size;
    return true;
}

Status BufferObject::Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount) {
    switch (identity) {
    case kPtr:
        result.value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(m_data)));
        return Status::Ok;
    case kSize: {
        if (invokeKind == InvokeGet) {
            result.value.SetInteger(m_size);
            return Status::Ok;
        }
        ValueToken n;
        if (!TokenToNumber(*params[0], n)) return RaiseTypeError(L"Number", *params[0]);
        int64_t size = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
        if (size < 0 || size > kMaxBufferSize) return RaiseMsg(ErrorClass::ValueError, Msg::InvalidValue);
        if (!Resize(static_cast<uint32_t>(size))) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        return Status::Ok;
    }
    case kNew: {
        result.value.SetString(L"", 0);
        if (!IsOmitted(params, paramCount, 0)) {
            ValueToken n;
            if (!TokenToNumber(*params[0], n)) return RaiseParamTypeError(0, L"Number", *params[0]);
            int64_t size = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
            if (size < 0 || size > kMaxBufferSize) return RaiseMsg(ErrorClass::ValueError, Msg::InvalidValue);
            if (!Resize(static_cast<uint32_t>(size))) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        }
        if (!IsOmitted(params, paramCount, 1)) {
            ValueToken n;
            if (!TokenToNumber(*params[1], n)) return RaiseParamTypeError(1, L"Number", *params[1]);
            int64_t fill = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
            if (m_size) memset(m_data, static_cast<int>(fill & 0xFF), m_size);
        }
        return Status::Ok;
    }
    }
    return Status::Ok;
}

void RegisterBufferClass() {
    constexpr int count = static_cast<int>(sizeof(kBufferMembers) / sizeof(kBufferMembers[0]));
    RegisterNativeClass(ClassId::Buffer, {kBufferMembers, count, []() -> Object* { return BufferObject::Create(); }});
}

Status GetBufferPtrSize(IObject* object, void*& data, size_t& size) {
    if (auto* b = dynamic_cast<BufferObject*>(object)) {
        data = b->Data();
        size = b->Size();
        return Status::Ok;
    }
    ValueToken self;
    self.SetObject(object);
    int64_t values[2];
    const Char* const names[] = {L"Ptr", L"Size"};
    for (int i = 0; i < 2; ++i) {
        Char scratch[kScratchChars];
        CallResult r(scratch);
        BRM_TRY(InvokeValueOrFail(r, InvokeGet, names[i], self, nullptr, 0));
        values[i] = TokenToInt64(r.value);
    }
    data = reinterpret_cast<void*>(static_cast<uintptr_t>(values[0]));
    size = values[1] < 0 ? 0 : static_cast<size_t>(values[1]);
    return Status::Ok;
}

}  // namespace brm
