// Script objects seen by a COM client: interface queries, the case-sensitive name table, property gets and
// puts, method calls, errors coming back as exception records, and enumeration through DISPID_NEWENUM.
#include <gtest/gtest.h>
#include <oleauto.h>
#include "objects/Array.h"
#include "objects/NativeClass.h"
#include "objects/Object.h"

namespace brm::test {
namespace {

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateBuiltInClasses(), Status::Ok); }

    static DISPID Id(IDispatch* d, const wchar_t* name) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        return id;
    }
    static HRESULT Call(IDispatch* d, DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result,
                        EXCEPINFO* info = nullptr) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{args, (flags & DISPATCH_PROPERTYPUT) ? &named : nullptr, count,
                          (flags & DISPATCH_PROPERTYPUT) ? 1u : 0u};
        UINT argError = 0;
        return d->Invoke(id, IID_NULL, 0, flags, &params, result, info, &argError);
    }
};

TEST_F(DispatchTest, GrantsDispatchAndTheProgramsOwnInterfaceOnlyByItsConstant) {
    Ref<Object> o(Object::Create());
    void* p = nullptr;
    ASSERT_EQ(o->QueryInterface(IID_IDispatch, &p), S_OK);
    EXPECT_EQ(p, static_cast<IDispatch*>(o.get()));
    static_cast<IUnknown*>(p)->Release();
    ASSERT_EQ(o->QueryInterface(IID_IObject, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
    IID copy = IID_IObject;  // the same value at another address is somebody else asking
    EXPECT_EQ(o->QueryInterface(copy, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(o->QueryInterface(IID_IEnumVARIANT, &p), E_NOINTERFACE);
    UINT typeInfos = 5;
    EXPECT_EQ(o->GetTypeInfoCount(&typeInfos), S_OK);
    EXPECT_EQ(typeInfos, 0u);
    EXPECT_EQ(o->RefCount(), 1u);
}

TEST_F(DispatchTest, NamesAreCaseSensitiveButReachTheSameMember) {
    Ref<Object> o(Object::Create());
    DISPID lower = Id(o.get(), L"width");
    DISPID upper = Id(o.get(), L"WIDTH");
    EXPECT_NE(lower, upper);
    EXPECT_EQ(Id(o.get(), L"width"), lower);
    EXPECT_GE(lower, 1);

    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = 42;
    ASSERT_EQ(Call(o.get(), lower, DISPATCH_PROPERTYPUT, &value, 1, nullptr), S_OK);
    VARIANT got;
    VariantInit(&got);
    ASSERT_EQ(Call(o.get(), upper, DISPATCH_PROPERTYGET, nullptr, 0, &got), S_OK);
    EXPECT_EQ(V_VT(&got), VT_I4);
    EXPECT_EQ(V_I4(&got), 42);

    VariantClear(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"text");
    ASSERT_EQ(Call(o.get(), lower, DISPATCH_PROPERTYPUT, &value, 1, nullptr), S_OK);
    VariantClear(&value);
    ASSERT_EQ(Call(o.get(), lower, DISPATCH_PROPERTYGET, nullptr, 0, &got), S_OK);
    ASSERT_EQ(V_VT(&got), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&got), L"text");
    VariantClear(&got);

    EXPECT_EQ(Call(o.get(), Id(o.get(), L"missing"), DISPATCH_PROPERTYGET, nullptr, 0, &got), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(o.get(), 987654, DISPATCH_PROPERTYGET, nullptr, 0, &got), DISP_E_MEMBERNOTFOUND);
    LPOLESTR two[2] = {const_cast<LPOLESTR>(L"a"), const_cast<LPOLESTR>(L"b")};
    DISPID ids[2];
    EXPECT_EQ(o->GetIDsOfNames(IID_NULL, two, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], Id(o.get(), L"a"));
}

TEST_F(DispatchTest, MethodsTakeArgumentsInScriptOrderAndErrorsBecomeExceptionRecords) {
    Ref<Array> a(Array::Create());
    VARIANT args[2];  // COM order: last argument first
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = 1;
    V_VT(&args[0]) = VT_R8;
    V_R8(&args[0]) = 2.5;
    VARIANT got;
    VariantInit(&got);
    ASSERT_EQ(Call(a.get(), Id(a.get(), L"Push"), DISPATCH_METHOD, args, 2, &got), S_OK);
    VariantClear(&got);
    ASSERT_EQ(Call(a.get(), Id(a.get(), L"Pop"), DISPATCH_METHOD, nullptr, 0, &got), S_OK);
    EXPECT_EQ(V_VT(&got), VT_R8);
    EXPECT_EQ(V_R8(&got), 2.5);
    ASSERT_EQ(Call(a.get(), Id(a.get(), L"Pop"), DISPATCH_METHOD, nullptr, 0, &got), S_OK);
    EXPECT_EQ(V_I4(&got), 1);

    EXCEPINFO info{};
    EXPECT_EQ(Call(a.get(), Id(a.get(), L"Pop"), DISPATCH_METHOD, nullptr, 0, &got, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, DISP_E_EXCEPTION);
    ASSERT_NE(info.bstrDescription, nullptr);
    EXPECT_STREQ(info.bstrDescription, L"Array is empty.");
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);

    // A property read that a client makes as "method or get" is retried as a get.
    ASSERT_EQ(Call(a.get(), Id(a.get(), L"Length"), DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0, &got), S_OK);
    EXPECT_EQ(V_I4(&got), 0);
}

TEST_F(DispatchTest, NewEnumGivesAnEnumVariantOverTheItems) {
    Ref<Array> a(Array::Create());
    ASSERT_EQ(a->AppendText(L"x"), Status::Ok);
    ASSERT_EQ(a->AppendText(L"y"), Status::Ok);
    VARIANT got;
    VariantInit(&got);
    ASSERT_EQ(Call(a.get(), DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0, &got), S_OK);
    ASSERT_EQ(V_VT(&got), VT_UNKNOWN);
    IEnumVARIANT* items = nullptr;
    ASSERT_EQ(V_UNKNOWN(&got)->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)), S_OK);
    VariantClear(&got);
    VARIANT item[3];
    ULONG fetched = 0;
    EXPECT_EQ(items->Next(3, item, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_STREQ(V_BSTR(&item[0]), L"x");
    EXPECT_STREQ(V_BSTR(&item[1]), L"y");
    VariantClear(&item[0]);
    VariantClear(&item[1]);
    items->Release();
}

}  // namespace
}  // namespace brm::test
