// Typed routines: parameter counts derived from the C++ signature, argument conversion, output parameters
// and FResult decoding.
#include <gtest/gtest.h>
#include "expr/Var.h"
#include "objects/MdFunc.h"

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

}  // namespace
}  // namespace brm::test
