// Typed routines: parameter counts derived from the C++ signature, argument conversion, output parameters
// and FResult decoding.
#include <gtest/gtest.h>
#include <string>
#include "expr/Var.h"
#include "objects/MdFunc.h"
#include "objects/Object.h"
#include "runtime/PseudoThread.h"

namespace brm::test {
namespace {

FResult Divide(int32_t a, Opt<int32_t> b, Out<int32_t> quotient, Out<double> half) {
    int32_t d = b ? *b : 2;
    if (!d)
        return FrParam(1);
    *quotient.ptr = a / d;
    *half.ptr = a / 2.0;
    return FrOk;
}
int32_t Count(const Char* text, Rest rest) { return static_cast<int32_t>(wcslen(text)) + rest.count; }
// An optional Value arrives as the token itself, or null.
int64_t Kind(ValueToken* value) { return value ? static_cast<int64_t>(value->symbol) : -1; }
bool IsBig(int64_t n) { return n > 100; }

using DivideTraits = md::Traits<decltype(&Divide)>;
static_assert(DivideTraits::MinParams() == 1 && DivideTraits::kMax == 4 && !DivideTraits::kVariadic);
using CountTraits = md::Traits<decltype(&Count)>;
static_assert(CountTraits::MinParams() == 1 && CountTraits::kMax == 1 && CountTraits::kVariadic);

TEST(MdFuncTest, ConvertsArgumentsAndWritesOutputs) {
    Var q, h;
    ValueToken a, b, qRef, hRef;
    a.SetString(L"7");
    b.SetFloat(3.9);  // truncated toward zero for an Int32
    qRef.SetVar(&q, VarUsageLValue);
    hRef.SetVar(&h, VarUsageLValue);
    ValueToken* args[] = {&a, &b, &qRef, &hRef};
    Char scratch[kScratchChars];
    CallResult r(scratch);
    ASSERT_EQ(DivideTraits::Call<&Divide>(r, args, 4), Status::Ok);
    EXPECT_EQ(q.Int64Value(), 2);
    EXPECT_DOUBLE_EQ(h.DoubleValue(), 3.5);
    q.Free();
    h.Free();
}

TEST(MdFuncTest, ReturnValuesByType) {
    ValueToken text, extra, n;
    text.SetString(L"abc");
    extra.SetInteger(1);
    n.SetInteger(101);
    ValueToken* args[] = {&text, &extra, &extra};
    Char scratch[kScratchChars];
    {
        CallResult r(scratch);
        ASSERT_EQ(CountTraits::Call<&Count>(r, args, 3), Status::Ok);
        EXPECT_EQ(r.value.symbol, static_cast<uint32_t>(SymInteger));
        EXPECT_EQ(r.value.valueInt64, 5);
    }
    {
        using K = md::Traits<decltype(&Kind)>;
        static_assert(K::MinParams() == 0 && K::kMax == 1 && K::kReturn == MdInt64);
        ValueToken missing;
        missing.SetMissing();
        ValueToken* given[] = {&text};
        ValueToken* omitted[] = {&missing};
        CallResult r1(scratch);
        ASSERT_EQ(K::Call<&Kind>(r1, given, 1), Status::Ok);
        EXPECT_EQ(r1.value.valueInt64, SymString);
        CallResult r2(scratch);
        ASSERT_EQ(K::Call<&Kind>(r2, omitted, 1), Status::Ok);
        EXPECT_EQ(r2.value.valueInt64, -1);
    }
    ValueToken* big[] = {&n};
    CallResult r(scratch);
    ASSERT_EQ(md::Traits<decltype(&IsBig)>::Call<&IsBig>(r, big, 1), Status::Ok);
    EXPECT_EQ(r.value.valueInt64, 1);
}

TEST(MdFuncTest, FResultSuccessValues) {
    Char scratch[kScratchChars];
    CallResult r(scratch);
    r.value.SetInteger(5);
    EXPECT_EQ(DecodeFResult(FrOk, r, nullptr, 0), Status::Ok);
    EXPECT_EQ(r.value.valueInt64, 5);
    EXPECT_EQ(DecodeFResult(FrContinued, r, nullptr, 0), Status::Ok);
    EXPECT_EQ(r.value.symbol, static_cast<uint32_t>(SymString));  // a continued error leaves ""
    EXPECT_EQ(DecodeFResult(FrFail, r, nullptr, 0), Status::Fail);  // already raised: nothing new
}

// String and Value outputs reach their variables through a result slot of their own.
FResult Describe(int32_t n, Out<StrRet> text, Out<ValueRet> value) {
    std::wstring big(300, L'x');  // longer than the slot's buffer: kept in an allocation
    if (!text.ptr->Set(n ? big.c_str() : L"none", n ? big.size() : 4))
        return FrOutOfMemory;
    value.ptr->result->value.SetInteger(n * 2);
    return n < 0 ? FrParam(0) : FrOk;
}

TEST(MdFuncTest, StringAndValueOutputs) {
    using T = md::Traits<decltype(&Describe)>;
    static_assert(T::MinParams() == 1 && T::kMax == 3 && T::kOutputValues == 1);
    Var text, value;
    ValueToken n, textRef, valueRef;
    n.SetInteger(4);
    textRef.SetVar(&text, VarUsageLValue);
    valueRef.SetVar(&value, VarUsageLValue);
    ValueToken* args[] = {&n, &textRef, &valueRef};
    Char scratch[kScratchChars];
    CallResult r(scratch);
    ASSERT_EQ(T::Call<&Describe>(r, args, 3), Status::Ok);
    EXPECT_EQ(std::wstring(text.Contents()), std::wstring(300, L'x'));
    EXPECT_EQ(value.Int64Value(), 8);
    text.Free();
    value.Free();
}

// The signature text: modifiers before each type byte; return values and the remaining arguments are no
// script parameters, a method's object has no entry at all.
FResult Shapes(Self self, const Char* name, Opt<int64_t> period, Out<int32_t> x, ValueRet ret, Rest rest) {
    (void)self, (void)name, (void)period, (void)x, (void)ret, (void)rest;
    return FrOk;
}
using ShapesTraits = md::Traits<decltype(&Shapes)>;
constexpr uint8_t kShapes[] = {MdString, MdOptional, MdInt64, MdOptional, MdOutput, MdInt32,
                               MdRetVal, MdOutput,   MdValue, MdRest,     MdEnd};

TEST(MdFuncTest, SignatureTextAndCounts) {
    EXPECT_EQ(std::basic_string<uint8_t>(ShapesTraits::kSignature), std::basic_string<uint8_t>(kShapes));
    EXPECT_EQ(ShapesTraits::kReturn, MdFResult);
    EXPECT_EQ(ShapesTraits::MinParams(), 1);
    EXPECT_EQ(ShapesTraits::kMax, 3);
    EXPECT_TRUE(ShapesTraits::kVariadic);
    EXPECT_EQ(ShapesTraits::kOutputValues, 0);
    // Two slots only for a by-value 64-bit number: here every entry takes one.
    EXPECT_EQ(ShapesTraits::kSlots, 6);
    EXPECT_EQ(md::Traits<decltype(&IsBig)>::kSlots, 2);
    EXPECT_EQ(md::Traits<decltype(&IsBig)>::kReturn, MdBool);
    EXPECT_EQ(md::Traits<decltype(&Count)>::kReturn, MdInt32);

    EXPECT_FALSE(SignatureArgIsOutput(kShapes, 0));
    EXPECT_FALSE(SignatureArgIsOptional(kShapes, 0));
    EXPECT_TRUE(SignatureArgIsOptional(kShapes, 1));
    EXPECT_FALSE(SignatureArgIsOutput(kShapes, 1));
    EXPECT_TRUE(SignatureArgIsOutput(kShapes, 2));
    EXPECT_TRUE(SignatureArgIsOptional(kShapes, 2));
    EXPECT_FALSE(SignatureArgIsOutput(kShapes, 3));  // the return value is not parameter 4
    EXPECT_FALSE(SignatureArgIsOutput(kShapes, -1));
}

class MdFuncErrors : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateBuiltInClasses(), Status::Ok);
        m_savedMode = g_thread->errorMode;
        g_thread->errorMode |= ErrorModeCaughtHere;  // caught: nothing is shown, the thrown value is read
        ClearThrown(*g_thread);
    }
    void TearDown() override {
        ClearThrown(*g_thread);
        g_thread->errorMode = m_savedMode;
    }
    static std::wstring Raised() {
        ThrownValue* v = g_thread->thrown;
        ValueToken message;
        if (!v)
            message.SetString(L"", 0);
        else if (v->value.symbol != SymObject || !AsObject(v->value.object) ||
                 !AsObject(v->value.object)->GetOwnProp(L"Message", message))
            message = v->value;
        std::wstring text = message.symbol == SymString ? std::wstring(message.marker) : std::wstring();
        ClearThrown(*g_thread);
        return text;
    }

private:
    uint8_t m_savedMode = 0;
};

TEST_F(MdFuncErrors, ParameterFailuresQuoteTheArgument) {
    ValueToken text, object;
    text.SetString(L"bad");
    Ref<Object> o(Object::Create());
    object.SetObject(o.get());
    ValueToken* args[] = {&text, &object};
    Char scratch[kScratchChars];
    CallResult r(scratch);
    EXPECT_EQ(DecodeFResult(FrParam(1), r, args, 2), Status::Fail);
    EXPECT_EQ(Raised(), L"Parameter #2 invalid.");
    EXPECT_EQ(DecodeFResult(FrParam(5), r, args, 2), Status::Fail);  // beyond the arguments: nothing to quote
    EXPECT_EQ(Raised(), L"Parameter #6 invalid.");
    EXPECT_EQ(DecodeFResult(FrInvalidParams, r, args, 2), Status::Fail);
    EXPECT_EQ(Raised(), L"Invalid parameter(s).");
    EXPECT_EQ(DecodeFResult(FrOutOfMemory, r, args, 2), Status::Fail);
    EXPECT_EQ(Raised(), L"Out of memory.");
    EXPECT_EQ(DecodeFResult(FResult{static_cast<int32_t>(0xA0050002u)}, r, args, 2), Status::Fail);
    EXPECT_EQ(Raised(), L"Failed");
    EXPECT_EQ(DecodeFResult(FrFailedWith(77), r, args, 2), Status::Fail);
    EXPECT_EQ(Raised(), L"Failed");
}

// A failed call leaves its output variables unset, whatever the routine wrote.
TEST_F(MdFuncErrors, FailedCallUnsetsOutputs) {
    Var q, h;
    ASSERT_EQ(q.AssignInteger(9), Status::Ok);
    ValueToken a, zero, qRef, hRef;
    a.SetInteger(7);
    zero.SetInteger(0);
    qRef.SetVar(&q, VarUsageLValue);
    hRef.SetVar(&h, VarUsageLValue);
    ValueToken* args[] = {&a, &zero, &qRef, &hRef};
    Char scratch[kScratchChars];
    CallResult r(scratch);
    EXPECT_EQ(DivideTraits::Call<&Divide>(r, args, 4), Status::Fail);
    EXPECT_EQ(Raised(), L"Parameter #2 invalid.");
    EXPECT_TRUE(q.IsUnset());
    EXPECT_TRUE(h.IsUnset());
}

// An omitted required argument is reported by its number; an output argument must name a variable.
TEST_F(MdFuncErrors, OmittedAndNonVariableArguments) {
    ValueToken missing, a, notVar;
    missing.SetMissing();
    a.SetInteger(7);
    notVar.SetInteger(1);
    Char scratch[kScratchChars];
    {
        CallResult r(scratch);
        ValueToken* args[] = {&missing};
        EXPECT_EQ(DivideTraits::Call<&Divide>(r, args, 1), Status::Fail);
        EXPECT_EQ(Raised(), L"Parameter #1 must not be omitted in this case.");
    }
    {
        CallResult r(scratch);
        ValueToken* args[] = {&a, &missing, &notVar};
        EXPECT_EQ(DivideTraits::Call<&Divide>(r, args, 3), Status::Fail);
        EXPECT_EQ(Raised(), L"Parameter #3 requires a VarRef, but received an Integer.");
    }
}

// A continued error empties the result like a failure: an object it held is released.
TEST_F(MdFuncErrors, ContinuedErrorReleasesTheResult) {
    Ref<Object> o(Object::Create());
    Char scratch[kScratchChars];
    CallResult r(scratch);
    o->AddRef();
    r.value.SetObject(o.get());
    EXPECT_EQ(DecodeFResult(FrContinued, r, nullptr, 0), Status::Ok);
    EXPECT_EQ(r.value.symbol, static_cast<uint32_t>(SymString));
    EXPECT_EQ(o->RefCount(), 1u);
}

// A typed method checks `this` against its owner before any argument is converted, and its parameter
// numbers do not count `this`.
IObject* g_seenSelf = nullptr;
FResult Poke(Self self, int32_t n) {
    g_seenSelf = self.object;
    return n < 0 ? FrParam(0) : FrOk;
}
constexpr MdFuncDef kPoke = BRM_MD_ROW(L"Poke", Poke);

TEST_F(MdFuncErrors, MethodRequiresAnInstanceOfItsClass) {
    Ref<Object> proto(CreatePrototype(L"Widget", BuiltInPrototype(ClassId::Object)));
    ASSERT_EQ(proto->SetOwnPropString(L"__Class", L"Widget"), Status::Ok);
    MdFunc* poke = MdFunc::CreateMethod(L"Widget.Prototype.Poke", &kPoke, proto.get());
    EXPECT_EQ(poke->MinParams(), 2);
    EXPECT_EQ(poke->MaxParams(), 2);
    EXPECT_FALSE(poke->ArgIsOptional(0));
    EXPECT_FALSE(poke->ArgIsOptional(1));
    Ref<Object> widget(Object::Create(proto.get()));
    Ref<Object> plain(Object::Create());
    ValueToken self, other, good, bad;
    self.SetObject(widget.get());
    other.SetObject(plain.get());
    good.SetInteger(1);
    bad.SetInteger(-1);
    Char scratch[kScratchChars];
    {
        CallResult r(scratch);
        ValueToken* args[] = {&self, &good};
        EXPECT_EQ(poke->Call(r, args, 2), Status::Ok);
        EXPECT_EQ(g_seenSelf, widget.get());
    }
    {
        CallResult r(scratch);
        ValueToken* args[] = {&self, &bad};
        EXPECT_EQ(poke->Call(r, args, 2), Status::Fail);
        EXPECT_EQ(Raised(), L"Parameter #1 invalid.");
    }
    {
        g_seenSelf = nullptr;
        CallResult r(scratch);
        ValueToken* args[] = {&other, &good};
        EXPECT_EQ(poke->Call(r, args, 2), Status::Fail);
        EXPECT_EQ(Raised(), L"Expected a Widget but got an Object.");
        EXPECT_EQ(g_seenSelf, nullptr);
    }
}

}  // namespace
}  // namespace brm::test
