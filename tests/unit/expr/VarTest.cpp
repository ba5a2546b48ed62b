// Var: assignment of each kind, lazy number text, buffer sizes, Free, Append, references, built-in
// variables and the read-only errors.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include "exec/Raise.h"
#include "runtime/PseudoThread.h"
#include "startup/ScriptHost.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/ObjectBase.h"
#include "objects/VarRef.h"

using namespace brm;

namespace {

// Errors go through the real raising routines into the running thread. The thread is marked as inside a
// Try with a Catch so nothing is reported; the tests read the thrown value instead.
class VarTest : public testing::Test {
protected:
    void SetUp() override {
        m_savedMode = g_thread->errorMode;
        g_thread->errorMode |= ErrorModeCaughtHere;
        ClearThrown(*g_thread);
    }
    void TearDown() override {
        ClearThrown(*g_thread);
        g_thread->errorMode = m_savedMode;
    }
    static void ResetRaised() { ClearThrown(*g_thread); }
    static std::wstring RaisedMessage() {
        ThrownValue* v = g_thread->thrown;
        if (!v || v->value.symbol != SymString)
            return std::wstring();
        return std::wstring(v->value.marker, static_cast<size_t>(v->value.markerLength));
    }
    static ThrowClass RaisedClass() { return g_thread->thrown ? g_thread->thrown->cls : ThrowClass::Any; }

private:
    uint8_t m_savedMode = 0;
};

// An object that counts its deaths and can look at the world while dying.
class Probe : public ObjectBase {
public:
    static int s_deaths;
    std::function<void()> onDelete;
    const Char* TypeName() override { return L"Probe"; }

protected:
    ~Probe() override {
        ++s_deaths;
        if (onDelete)
            onDelete();
    }
};
int Probe::s_deaths = 0;

std::wstring Text(Var& v) { return v.Text(); }

ValueToken VarTok(Var& v) {
    ValueToken t{};
    t.SetVar(&v);
    return t;
}

// A Var that frees itself at the end of a test.
struct ScopedVar : Var {
    using Var::Var;
    ~ScopedVar() { Free(VarFreeMemory | VarFreeDropAlias); }
};

}  // namespace

TEST_F(VarTest, StartsUnsetAndEmpty) {
    ScopedVar v(L"x", VarScopeGlobal);
    EXPECT_TRUE(v.IsUnset());
    EXPECT_EQ(Text(v), L"");
    EXPECT_EQ(v.Length(), 0);
    EXPECT_FALSE(v.Truth());
    EXPECT_EQ(v.m_capacity, 0u);
    EXPECT_EQ(v.m_allocKind, VarAllocNone);
    EXPECT_EQ(v.m_contents, VarEmptyString());
}

TEST_F(VarTest, NumbersStayNumbersUntilReadAsText) {
    ScopedVar v;
    ASSERT_EQ(v.AssignInteger(42), Status::Ok);
    EXPECT_EQ(v.m_attrib, VarAttribInteger | VarAttribStale);
    EXPECT_EQ(v.m_capacity, 0u);  // no text was made
    EXPECT_EQ(v.ToInt64(), 42);
    EXPECT_TRUE(v.Truth());
    EXPECT_EQ(v.m_capacity, 0u);

    EXPECT_EQ(Text(v), L"42");
    EXPECT_EQ(v.m_attrib, VarAttribInteger);  // holds both, text current
    EXPECT_EQ(v.Int64Value(), 42);
    Char* buffer = v.m_contents;

    ASSERT_EQ(v.AssignInteger(-7), Status::Ok);
    EXPECT_TRUE(v.m_attrib & VarAttribStale);
    EXPECT_EQ(v.Length(), 2);
    EXPECT_EQ(Text(v), L"-7");
    EXPECT_EQ(v.m_contents, buffer);  // the buffer is reused

    ASSERT_EQ(v.AssignFloat(0.1 + 0.2), Status::Ok);
    EXPECT_EQ(v.m_attrib, VarAttribFloat | VarAttribStale);
    EXPECT_EQ(Text(v), L"0.30000000000000004");
    EXPECT_TRUE(v.IsFloat());
    ASSERT_EQ(v.AssignFloat(3.0), Status::Ok);
    EXPECT_EQ(Text(v), L"3.0");
}

TEST_F(VarTest, AssigningAVariableCopiesTheNumberNotItsText) {
    ScopedVar source, target;
    ASSERT_EQ(source.AssignInteger(5), Status::Ok);
    ASSERT_EQ(target.Assign(VarTok(source)), Status::Ok);
    EXPECT_TRUE(target.IsInteger());
    EXPECT_EQ(target.m_capacity, 0u);
    EXPECT_EQ(TokenIsPureNumeric(VarTok(target)), NumericKind::Integer);
    ValueToken literal{};
    literal.SetString(L"5");
    EXPECT_EQ(TokenIsPureNumeric(literal), NumericKind::None);

    ASSERT_EQ(source.AssignString(L"text"), Status::Ok);
    ASSERT_EQ(target.Assign(VarTok(source)), Status::Ok);
    EXPECT_EQ(Text(target), L"text");
    EXPECT_FALSE(target.IsPureNumber());

    ScopedVar unset;
    ASSERT_EQ(target.Assign(VarTok(unset)), Status::Ok);
    EXPECT_TRUE(target.IsUnset());

    ASSERT_EQ(source.Assign(VarTok(source)), Status::Ok);  // self-assignment keeps the value
    EXPECT_EQ(Text(source), L"text");
}

TEST_F(VarTest, AssignKeepsOnlyTheLoaderBits) {
    ScopedVar v;
    v.m_attrib |= VarAttribAssigned;
    ASSERT_EQ(v.AssignString(L"abc"), Status::Ok);
    EXPECT_EQ(v.m_attrib, VarAttribAssigned);
    ASSERT_EQ(v.AssignInteger(1), Status::Ok);
    EXPECT_EQ(v.m_attrib, VarAttribAssigned | VarAttribInteger | VarAttribStale);
    ValueToken missing{};
    missing.SetMissing();
    ASSERT_EQ(v.Assign(missing), Status::Ok);
    EXPECT_EQ(v.m_attrib, VarAttribAssigned | VarAttribUnset);
}

TEST_F(VarTest, ShortStringsUsePoolBuffersOfThreeSizes) {
    struct Case { int chars; ExactSize exact; uint8_t kind; uint32_t capacity; };
    const Case cases[] = {
        {1, ExactSize::No, VarAllocPool, 8},     {3, ExactSize::No, VarAllocPool, 8},
        {4, ExactSize::No, VarAllocPool, 16},    {7, ExactSize::No, VarAllocPool, 16},
        {8, ExactSize::No, VarAllocPool, 128},   {63, ExactSize::No, VarAllocPool, 128},
        {3, ExactSize::Yes, VarAllocPool, 8},    {5, ExactSize::Yes, VarAllocPool, 12},
        {20, ExactSize::Yes, VarAllocPool, 44},  {64, ExactSize::No, VarAllocHeap, 520},
        {64, ExactSize::Yes, VarAllocHeap, 130}, {300, ExactSize::No, VarAllocHeap, 662},
        {10, ExactSize::No, VarAllocPool, 128},
    };
    for (const Case& c : cases) {
        ScopedVar v;
        std::wstring text(c.chars, L'a');
        ASSERT_EQ(v.AssignString(text.c_str(), c.chars, c.exact), Status::Ok);
        EXPECT_EQ(v.m_allocKind, c.kind) << c.chars;
        EXPECT_EQ(v.m_capacity, c.capacity) << c.chars;
        EXPECT_EQ(Text(v), text);
        EXPECT_EQ(v.Length(), c.chars);
    }
}

TEST_F(VarTest, HeapBuffersGrowGeometricallyThenLinearly) {
    struct Case { uint32_t need; uint32_t capacity; };
    const Case cases[] = {
        {200, 520}, {1000, 1100}, {0x50000, 0x50000 + 32768}, {0x320000, 0x320000 + 0x320000 / 100},
        {0xC80000, 0xC80000 + 131072},
    };
    for (const Case& c : cases) {
        ScopedVar v;
        v.m_allocKind = VarAllocHeap;  // as a VarRef's body: never the pool
        ASSERT_EQ(v.AssignString(nullptr, static_cast<int32_t>(c.need / 2 - 1)), Status::Ok);
        EXPECT_EQ(v.m_capacity, c.capacity) << c.need;
        EXPECT_EQ(v.Length(), 0);
        EXPECT_FALSE(v.IsUnset());
    }
}

TEST_F(VarTest, LargeBuffersAreFreedWhenEmptied) {
    struct Case { uint32_t bytes; bool freed; };
    const Case cases[] = {{5000, true}, {4000, false}, {4098, true}, {4096, false}};
    for (const Case& c : cases) {
        ScopedVar v;
        ASSERT_EQ(v.AssignString(nullptr, static_cast<int32_t>(c.bytes / 2 - 1), ExactSize::Yes), Status::Ok);
        ASSERT_EQ(v.m_capacity, c.bytes);
        ASSERT_EQ(v.AssignString(L"abc"), Status::Ok);  // fits: the buffer is reused
        EXPECT_EQ(v.m_capacity, c.bytes);
        ASSERT_EQ(v.AssignString(L""), Status::Ok);
        EXPECT_EQ(v.m_capacity, c.freed ? 0u : c.bytes) << c.bytes;
        EXPECT_FALSE(v.IsUnset());
        EXPECT_EQ(Text(v), L"");
    }
    // Assigning Missing empties the same way and marks the variable unset.
    ScopedVar v;
    ASSERT_EQ(v.AssignString(nullptr, 2499, ExactSize::Yes), Status::Ok);
    ValueToken missing{};
    missing.SetMissing();
    ASSERT_EQ(v.Assign(missing), Status::Ok);
    EXPECT_EQ(v.m_capacity, 0u);
    EXPECT_TRUE(v.IsUnset());
}

TEST_F(VarTest, FreeOptions) {
    ScopedVar v;
    ASSERT_EQ(v.AssignString(nullptr, 999, ExactSize::Yes), Status::Ok);
    ASSERT_EQ(v.AssignString(L"keep me"), Status::Ok);
    v.Free(0);  // truncate only
    EXPECT_EQ(v.m_capacity, 2000u);
    EXPECT_EQ(Text(v), L"");
    EXPECT_FALSE(v.IsUnset());
    v.Free(VarFreeIfLarge | VarFreeMarkUnset);
    EXPECT_EQ(v.m_capacity, 2000u);
    EXPECT_TRUE(v.IsUnset());
    v.Free(VarFreeMemory);
    EXPECT_EQ(v.m_capacity, 0u);
    EXPECT_EQ(v.m_contents, VarEmptyString());
    EXPECT_FALSE(v.IsUnset());
    // Pool buffers are kept: they cannot be given back.
    ASSERT_EQ(v.AssignString(L"ab"), Status::Ok);
    EXPECT_EQ(v.m_allocKind, VarAllocHeap);  // once on the heap, always on the heap
    ScopedVar p;
    ASSERT_EQ(p.AssignString(L"ab"), Status::Ok);
    ASSERT_EQ(p.m_allocKind, VarAllocPool);
    p.Free(VarFreeMemory);
    EXPECT_EQ(p.m_capacity, 8u);
    EXPECT_EQ(Text(p), L"");
}

TEST_F(VarTest, AppendInPlaceOnlyWhenItFits) {
    ScopedVar v;
    ASSERT_EQ(v.AssignString(L"ab"), Status::Ok);  // 8-byte pool buffer: room for 3 characters
    EXPECT_TRUE(v.Append(L"c", 1));
    EXPECT_EQ(Text(v), L"abc");
    EXPECT_FALSE(v.Append(L"d", 1));
    EXPECT_EQ(Text(v), L"abc");

    ASSERT_EQ(v.AssignString(L"1234567"), Status::Ok);  // 16 bytes
    ASSERT_EQ(v.AssignInteger(12), Status::Ok);
    EXPECT_FALSE(v.Append(L"3", 1));  // stale number text: the caller must format it first
    EXPECT_EQ(Text(v), L"12");
    EXPECT_TRUE(v.Append(L"3", 1));
    EXPECT_FALSE(v.IsPureNumber());
    EXPECT_EQ(Text(v), L"123");
    EXPECT_TRUE(v.Append(v.Contents(), v.RawLength()));  // appending itself
    EXPECT_EQ(Text(v), L"123123");

    ScopedVar unset;
    EXPECT_FALSE(unset.Append(L"x", 1));  // no buffer at all
}

TEST_F(VarTest, ObjectsAreReleasedAfterTheNewValueIsStored) {
    Probe::s_deaths = 0;
    ScopedVar v;
    Probe* first = new Probe();
    ASSERT_EQ(v.AssignObject(first), Status::Ok);
    EXPECT_TRUE(v.IsObject());
    EXPECT_EQ(v.m_attrib, VarAttribObject | VarAttribNotNumeric);
    EXPECT_TRUE(v.Truth());
    EXPECT_EQ(Text(v), L"");  // objects are never text through the buffer

    Probe* second = new Probe();
    bool sawNew = false;
    first->onDelete = [&] { sawNew = v.IsObject() && v.Object() == second; };
    ASSERT_EQ(v.AssignObject(second), Status::Ok);
    EXPECT_EQ(Probe::s_deaths, 1);
    EXPECT_TRUE(sawNew);

    bool sawNumber = false;
    second->onDelete = [&] { sawNumber = v.IsInteger() && v.Int64Value() == 9; };
    ASSERT_EQ(v.AssignInteger(9), Status::Ok);
    EXPECT_EQ(Probe::s_deaths, 2);
    EXPECT_TRUE(sawNumber);

    // Assigning an Object token adds the Var's own reference.
    Probe* third = new Probe();
    ValueToken token{};
    token.SetObject(third);
    ASSERT_EQ(v.Assign(token), Status::Ok);
    EXPECT_EQ(third->RefCount(), 2u);
    ScopedVar copy;
    ASSERT_EQ(copy.Assign(VarTok(v)), Status::Ok);
    EXPECT_EQ(third->RefCount(), 3u);
    ASSERT_EQ(v.AssignString(L"text"), Status::Ok);
    copy.Free(VarFreeMemory | VarFreeMarkUnset);
    EXPECT_EQ(third->RefCount(), 1u);
    third->Release();
    EXPECT_EQ(Probe::s_deaths, 3);
}

TEST_F(VarTest, TextTruthAndConversions) {
    struct Case { const Char* text; bool truth; double d; int64_t i; };
    const Case cases[] = {
        {L"0.0", false, 0.0, 0}, {L" 0 ", false, 0.0, 0}, {L"0x0", false, 0.0, 0}, {L"0.0a", true, 0.0, 0},
        {L"a", true, 0.0, 0},    {L"00x", true, 0.0, 0},  {L" ", true, 0.0, 0},    {L"0x10", true, 16.0, 16},
        {L"2.9", true, 2.9, 2},  {L"1e3", true, 1000.0, 1000},
    };
    for (const Case& c : cases) {
        ScopedVar v;
        ASSERT_EQ(v.AssignString(c.text), Status::Ok);
        EXPECT_EQ(v.Truth(), c.truth) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(v.ToDouble(), c.d) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(v.ToInt64(), c.i) << testing::PrintToString(std::wstring(c.text));
    }
    ScopedVar v;
    ASSERT_EQ(v.AssignString(L"abc"), Status::Ok);
    EXPECT_TRUE(v.Truth());  // decided by the first character: no numeric test
    EXPECT_FALSE(v.m_attrib & VarAttribNotNumeric);
    ASSERT_EQ(v.AssignString(L"-x"), Status::Ok);
    EXPECT_TRUE(v.Truth());
    EXPECT_TRUE(v.m_attrib & VarAttribNotNumeric);  // the numeric test is not repeated
    ASSERT_EQ(v.AssignFloat(-2.9), Status::Ok);
    EXPECT_EQ(v.ToInt64(), -2);
    ASSERT_EQ(v.AssignFloat(std::nan("")), Status::Ok);
    EXPECT_TRUE(v.Truth());
}

TEST_F(VarTest, ToTokenReadsWithoutConverting) {
    ScopedVar v;
    ValueToken t{};
    v.ToToken(t);
    EXPECT_EQ(t.symbol, SymMissing);
    ASSERT_EQ(v.AssignInteger(3), Status::Ok);
    v.ToToken(t);
    EXPECT_EQ(t.symbol, SymInteger);
    EXPECT_EQ(t.valueInt64, 3);
    ASSERT_EQ(v.AssignString(L"hi"), Status::Ok);
    v.ToToken(t);
    EXPECT_EQ(t.symbol, SymString);
    EXPECT_EQ(t.markerLength, 2);
    EXPECT_STREQ(t.marker, L"hi");
}

TEST_F(VarTest, MakeRefSharesOneVar) {
    ScopedVar v(L"name", VarScopeLocal);
    ASSERT_EQ(v.AssignString(L"abc"), Status::Ok);
    VarRef* ref = v.MakeRef();
    ASSERT_NE(ref, nullptr);
    EXPECT_STREQ(ref->TypeName(), L"VarRef");
    EXPECT_EQ(ref->RefCount(), 2u);  // ours and the alias's
    EXPECT_TRUE(v.IsAlias());
    EXPECT_EQ(v.Target(), &ref->Body());
    EXPECT_EQ(Text(v), L"abc");
    EXPECT_EQ(Text(ref->Body()), L"abc");
    EXPECT_STREQ(ref->Body().m_name, L"name");
    EXPECT_EQ(ref->Body().m_scope, VarScopeLocal | VarScopeInVarRef);
    EXPECT_STREQ(VarKindName(ref->Body()), L"local variable");

    ASSERT_EQ(v.AssignString(L"changed"), Status::Ok);
    EXPECT_EQ(Text(ref->Body()), L"changed");
    ASSERT_EQ(ref->Body().AssignInteger(7), Status::Ok);
    EXPECT_EQ(v.ToInt64(), 7);
    EXPECT_EQ(Text(v), L"7");

    VarRef* again = v.MakeRef();
    EXPECT_EQ(again, ref);
    EXPECT_EQ(ref->RefCount(), 3u);
    again->Release();

    // Dropping the alias releases its reference; the VarRef lives on while we hold ours.
    v.Free(VarFreeMemory | VarFreeDropAlias | VarFreeMarkUnset);
    EXPECT_FALSE(v.IsAlias());
    EXPECT_TRUE(v.IsUnset());
    EXPECT_EQ(ref->RefCount(), 1u);
    EXPECT_EQ(Text(ref->Body()), L"7");
    ref->Release();
}

TEST_F(VarTest, MakeRefMovesNumbersObjectsAndUnset) {
    ScopedVar number;
    ASSERT_EQ(number.AssignFloat(1.5), Status::Ok);
    VarRef* ref = number.MakeRef();
    ASSERT_NE(ref, nullptr);
    EXPECT_TRUE(ref->Body().IsFloat());
    EXPECT_EQ(number.DoubleValue(), 1.5);
    EXPECT_EQ(Text(number), L"1.5");
    ref->Release();

    Probe::s_deaths = 0;
    ScopedVar holder;
    ASSERT_EQ(holder.AssignObject(new Probe()), Status::Ok);
    ref = holder.MakeRef();
    ASSERT_NE(ref, nullptr);
    EXPECT_TRUE(ref->Body().IsObject());
    EXPECT_STREQ(holder.Object()->TypeName(), L"Probe");
    ref->Release();
    holder.Free(VarFreeMemory | VarFreeDropAlias);  // last reference to the VarRef: its body releases the Probe
    EXPECT_EQ(Probe::s_deaths, 1);

    ScopedVar unset;
    ref = unset.MakeRef();
    ASSERT_NE(ref, nullptr);
    EXPECT_TRUE(ref->Body().IsUnset());
    EXPECT_TRUE(unset.IsUnset());
    ref->Release();
}

TEST_F(VarTest, MakeRefThroughAnAliasChain) {
    ScopedVar original(L"g", VarScopeGlobal);
    ASSERT_EQ(original.AssignString(L"x"), Status::Ok);
    ScopedVar param(L"p", VarScopeLocal | VarScopeParam);
    param.SetAlias(&original, nullptr);  // a by-reference parameter bound directly
    EXPECT_EQ(Text(param), L"x");
    VarRef* ref = param.MakeRef();
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->RefCount(), 3u);  // ours, the parameter's and the original's
    EXPECT_STREQ(ref->Body().m_name, L"g");
    EXPECT_EQ(original.Target(), &ref->Body());
    EXPECT_EQ(param.Target(), &ref->Body());
    VarRef* viaOriginal = original.MakeRef();
    EXPECT_EQ(viaOriginal, ref);
    viaOriginal->Release();
    ASSERT_EQ(param.AssignString(L"y"), Status::Ok);
    EXPECT_EQ(Text(original), L"y");
    ref->Release();
    param.Free(VarFreeMemory | VarFreeDropAlias);
    original.Free(VarFreeMemory | VarFreeDropAlias);  // the last reference: the body is freed
    EXPECT_FALSE(original.IsAlias());
}

TEST_F(VarTest, ReadOnlyVariablesRaise) {
    Probe* func = new Probe();
    ScopedVar constant(L"F", VarScopeGlobal);
    ASSERT_EQ(constant.AssignObject(func), Status::Ok);
    constant.m_type = VarTypeConstant;

    static const BuiltInVarDesc readOnly = {
        [](CallResult& r, const Char*) { r.value.SetString(L"ro", 2); return Status::Ok; }, nullptr};
    Var builtIn = Var::MakeVirtual(L"A_ReadOnly", &readOnly);
    EXPECT_TRUE(builtIn.IsReadOnly());
    EXPECT_TRUE(constant.IsReadOnly());
    EXPECT_FALSE(builtIn.IsUnset());

    struct Case { Var* var; const Char* message; };
    const Case cases[] = {
        {&constant, L"This Probe cannot be assigned a value."},
        {&builtIn, L"This built-in variable cannot be assigned a value."},
    };
    for (const Case& c : cases) {
        ResetRaised();
        EXPECT_EQ(c.var->AssignInteger(1), Status::Fail);
        EXPECT_EQ(RaisedMessage(), c.message);
        EXPECT_EQ(RaisedClass(), ThrowClass::Error);
        ResetRaised();
        EXPECT_EQ(c.var->AssignString(L"x"), Status::Fail);
        EXPECT_EQ(RaisedMessage(), c.message);
        ResetRaised();
        EXPECT_EQ(c.var->AssignFloat(1.0), Status::Fail);
        EXPECT_EQ(RaisedMessage(), c.message);
        Probe* extra = new Probe();
        extra->AddRef();
        ResetRaised();
        EXPECT_EQ(c.var->AssignObject(extra), Status::Fail);  // the reference handed over is dropped
        EXPECT_EQ(extra->RefCount(), 1u);
        extra->Release();
    }
    ResetRaised();
    EXPECT_EQ(constant.MakeRef(), nullptr);
    EXPECT_EQ(RaisedMessage(), L"This Probe cannot have its reference taken.");
    EXPECT_EQ(builtIn.MakeRef(), nullptr);
    EXPECT_EQ(RaisedMessage(), L"This built-in variable cannot have its reference taken.");
    ResetRaised();
    EXPECT_EQ(builtIn.RaiseReadOnly(VarAction::Output), Status::Fail);
    EXPECT_EQ(RaisedMessage(), L"This built-in variable cannot be used as an output variable.");
    EXPECT_EQ(constant.Object(), func);  // untouched
}

namespace {
int s_setterCalls;
ValueToken s_setterValue;
int s_getterCalls;
Status s_getterStatus;
}  // namespace

TEST_F(VarTest, BuiltInVariablesUseGetterAndSetter) {
    static const BuiltInVarDesc desc = {
        [](CallResult& r, const Char* name) {
            ++s_getterCalls;
            EXPECT_STREQ(name, L"A_Test");
            r.value.SetInteger(42);
            return s_getterStatus;
        },
        [](const ValueToken& value, const Char*) {
            ++s_setterCalls;
            s_setterValue = value;
            return Status::Ok;
        }};
    s_getterCalls = s_setterCalls = 0;
    s_getterStatus = Status::Ok;
    Var v = Var::MakeVirtual(L"A_Test", &desc);
    EXPECT_STREQ(VarKindName(v), L"built-in variable");
    EXPECT_EQ(Text(v), L"42");
    EXPECT_EQ(s_getterCalls, 1);
    EXPECT_TRUE(v.m_attrib & VarAttribGetterText);
    EXPECT_EQ(v.ToInt64(), 42);
    EXPECT_EQ(s_getterCalls, 2);  // every read asks again

    // Copying a built-in variable keeps the getter's kind of value.
    ScopedVar copy;
    ASSERT_EQ(copy.Assign(VarTok(v)), Status::Ok);
    EXPECT_TRUE(copy.IsInteger());

    ASSERT_EQ(v.AssignInteger(5), Status::Ok);
    EXPECT_EQ(s_setterCalls, 1);
    EXPECT_EQ(s_setterValue.symbol, SymInteger);
    ASSERT_EQ(v.AssignString(L"abc"), Status::Ok);
    EXPECT_EQ(s_setterValue.symbol, SymString);
    EXPECT_STREQ(s_setterValue.marker, L"abc");

    ResetRaised();
    ValueToken missing{};
    missing.SetMissing();
    EXPECT_EQ(v.Assign(missing), Status::Fail);
    EXPECT_EQ(RaisedMessage(), L"Invalid assignment.");
    EXPECT_EQ(s_setterCalls, 2);

    s_getterStatus = Status::Fail;
    EXPECT_EQ(v.RefreshText(), Status::Fail);
    EXPECT_EQ(copy.Assign(VarTok(v)), Status::Fail);
    s_getterStatus = Status::EarlyExit;
    EXPECT_EQ(v.RefreshText(), Status::EarlyExit);
    v.Free(VarFreeMemory);
}

TEST_F(VarTest, BuiltInVariableAdoptsHeapText) {
    static const BuiltInVarDesc desc = {
        [](CallResult& r, const Char*) {
            auto* text = static_cast<Char*>(malloc(1000 * sizeof(Char)));
            wcscpy(text, L"from the heap");
            r.memToFree = text;
            r.value.SetString(text, 13);
            return Status::Ok;
        },
        nullptr};
    Var v = Var::MakeVirtual(L"A_Heap", &desc);
    EXPECT_EQ(Text(v), L"from the heap");
    EXPECT_EQ(v.m_allocKind, VarAllocHeap);
    EXPECT_GE(v.m_capacity, 28u);
    EXPECT_TRUE(v.m_attrib & VarAttribGetterText);
    ScopedVar copy;
    ASSERT_EQ(copy.Assign(VarTok(v)), Status::Ok);  // adopts the getter's block directly
    EXPECT_EQ(Text(copy), L"from the heap");
    v.Free(VarFreeMemory);
}

TEST_F(VarTest, AdoptString) {
    ScopedVar v;
    ASSERT_EQ(v.AssignInteger(1), Status::Ok);
    auto* block = static_cast<Char*>(malloc(4000));
    wcscpy(block, L"adopted");
    v.AdoptString(block);
    EXPECT_EQ(v.m_contents, block);
    EXPECT_EQ(v.Length(), 7);
    EXPECT_FALSE(v.IsPureNumber());
    EXPECT_EQ(v.m_allocKind, VarAllocHeap);
    EXPECT_GE(v.m_capacity, 16u);
    EXPECT_LE(v.m_capacity, 4000u);
}

TEST_F(VarTest, OutOfMemoryKeepsTheNumberOrUnsets) {
    ScopedVar number;
    number.m_allocKind = VarAllocHeap;
    ASSERT_EQ(number.AssignInteger(7), Status::Ok);
    ResetRaised();
    EXPECT_EQ(number.AssignString(nullptr, static_cast<int32_t>(kVarMaxChars), ExactSize::Yes), Status::Fail);
    EXPECT_EQ(RaisedMessage(), L"Out of memory.");
    EXPECT_EQ(RaisedClass(), ThrowClass::MemoryError);
    EXPECT_TRUE(number.IsInteger());
    EXPECT_EQ(Text(number), L"7");

    ScopedVar text;
    ASSERT_EQ(text.AssignString(L"old text"), Status::Ok);
    EXPECT_EQ(text.AssignString(nullptr, static_cast<int32_t>(kVarMaxChars), ExactSize::Yes), Status::Fail);
    EXPECT_TRUE(text.IsUnset());
    EXPECT_EQ(text.m_contents, VarEmptyString());
}

TEST_F(VarTest, SetCapacityAndUpdateLength) {
    ScopedVar v;
    int64_t usable = -1;
    ASSERT_EQ(v.SetCapacity(100, usable), Status::Ok);
    EXPECT_EQ(usable, 100);
    EXPECT_EQ(v.Length(), 0);
    wcscpy(v.m_contents, L"written directly");
    EXPECT_EQ(v.Length(), 0);  // not until told
    ASSERT_EQ(v.SetCapacity(-1, usable), Status::Ok);
    EXPECT_EQ(v.Length(), 16);
    EXPECT_EQ(usable, 100);

    // No terminator within the capacity: the script wrote past its buffer, so the program ends.
    for (int i = 0; i < 101; ++i)
        v.m_contents[i] = 'x';
    EXPECT_EXIT(
        {
            g_script.errorStdOut = true;
            (void)v.SetCapacity(-1, usable);
        },
        testing::ExitedWithCode(2), "String not null-terminated\\.");
    v.m_contents[100] = 0;

    ASSERT_EQ(v.SetCapacity(0, usable), Status::Ok);
    EXPECT_EQ(usable, 0);
    EXPECT_EQ(v.m_capacity, 0u);

    ASSERT_EQ(v.AssignString(L"abcde"), Status::Ok);
    ASSERT_EQ(v.SetCapacity(2, usable), Status::Ok);  // the bigger buffer is kept, but emptied
    EXPECT_EQ(Text(v), L"");
    EXPECT_GE(usable, 2);
}

TEST_F(VarTest, KindNames) {
    struct Case { uint8_t scope; const Char* name; };
    const Case cases[] = {
        {VarScopeLocal | VarScopeStatic, L"static variable"}, {VarScopeLocal | VarScopeParam, L"parameter"},
        {VarScopeLocal, L"local variable"}, {VarScopeGlobal, L"global variable"}, {0, L"variable"},
        {VarScopeInVarRef, L"variable"},
    };
    for (const Case& c : cases) {
        Var v(L"x", c.scope);
        EXPECT_STREQ(VarKindName(v), c.name);
    }
}

TEST_F(VarTest, CallResultOwnsItsHeapTextAndObject) {
    Probe::s_deaths = 0;
    {
        Char scratch[kScratchChars];
        CallResult result(scratch);
        result.memToFree = static_cast<Char*>(malloc(16));
        Probe* object = new Probe();  // the reference the result holds
        result.value.SetObject(object);
    }
    EXPECT_EQ(Probe::s_deaths, 1);
}
