// The object core without scripts: the sorted property table, base checks, type names, and native members
// bound through a member table and reached through InvokeMember.
#include <gtest/gtest.h>
#include <cwchar>
#include <string>
#include "objects/NativeClass.h"
#include "objects/Object.h"

namespace brm::test {
namespace {

class ObjectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateBuiltInClasses(), Status::Ok); }
};

std::wstring Names(Object* o) {
    std::wstring s;
    for (int i = 0; i < o->OwnPropCount(); ++i)
        s += std::wstring(o->OwnPropAt(i).name) + L" ";
    return s;
}

TEST_F(ObjectTest, TableIsSortedCaseInsensitivelyAndKeepsFirstSpelling) {
    Ref<Object> o(Object::Create());
    const wchar_t* names[] = {L"zeta", L"Alpha", L"_x", L"beta", L"ALPHA", L"b", L"Zeta", L"1"};
    for (const wchar_t* n : names)
        ASSERT_EQ(o->SetOwnPropInteger(n, 1), Status::Ok);
    EXPECT_EQ(Names(o.get()), L"1 _x Alpha b beta zeta ");
    EXPECT_EQ(o->OwnPropCount(), 6);
    EXPECT_EQ(o->OwnPropCapacity(), 8);  // 4, then doubled
    ASSERT_NE(o->FindOwnProp(L"ZETA"), nullptr);
    int at = -1;
    EXPECT_EQ(o->FindOwnProp(L"c", &at), nullptr);
    EXPECT_EQ(at, 5);  // between beta and zeta
    EXPECT_TRUE(o->DeleteOwnProp(L"BETA"));
    EXPECT_FALSE(o->DeleteOwnProp(L"beta"));
    EXPECT_EQ(Names(o.get()), L"1 _x Alpha b zeta ");
    EXPECT_EQ(o->OwnPropCapacity(), 8);  // removal keeps the capacity
    EXPECT_TRUE(o->SetOwnPropCapacity(0));
    EXPECT_EQ(o->OwnPropCapacity(), 5);  // never below the count
}

TEST_F(ObjectTest, ValuesAndDescriptorsShareOneEntry) {
    Ref<Object> o(Object::Create());
    ASSERT_EQ(o->SetOwnPropString(L"p", L"text"), Status::Ok);
    ValueToken v;
    ASSERT_TRUE(o->GetOwnProp(L"P", v));
    EXPECT_EQ(v.symbol, static_cast<uint32_t>(SymString));
    EXPECT_STREQ(v.marker, L"text");
    PropDesc* d = o->GetOrCreateDynamicProp(L"p");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->getter, nullptr);
    EXPECT_FALSE(o->GetOwnProp(L"p", v));
    EXPECT_EQ(o->OwnPropCount(), 1);
    EXPECT_EQ(o->GetOrCreateDynamicProp(L"P"), d);
}

TEST_F(ObjectTest, BaseChangesKeepTheChainAcyclicAndNativeTypesApart) {
    Ref<Object> a(Object::Create());
    Ref<Object> b(Object::Create(a.get()));
    Ref<Object> c(Object::Create(b.get()));
    EXPECT_FALSE(a->CanSetBase(c.get()));  // a cycle through c and b
    EXPECT_FALSE(a->CanSetBase(a.get()));
    EXPECT_TRUE(c->CanSetBase(a.get()));
    EXPECT_FALSE(a->CanSetBase(BuiltInPrototype(ClassId::Integer)));  // no native prototype there
    Ref<Object> native(CreatePrototype(L"Native", BuiltInPrototype(ClassId::Object)));
    native->AddFlags(Object::FlagNativeType);
    EXPECT_FALSE(a->CanSetBase(native.get()));  // a native layout the object does not have
    EXPECT_TRUE(c->IsOfType(a.get()));
    EXPECT_TRUE(c->IsOfType(BuiltInPrototype(ClassId::Object)));
    EXPECT_FALSE(native->IsOfType(native.get()));  // a prototype is never its own instance
}

TEST_F(ObjectTest, TypeNames) {
    Ref<Object> plain(Object::Create());
    EXPECT_STREQ(plain->TypeName(), L"Object");
    EXPECT_STREQ(BuiltInPrototype(ClassId::String)->TypeName(), L"Prototype");
    EXPECT_STREQ(BuiltInClass(ClassId::String)->TypeName(), L"Class");
    Ref<Object> proto(CreatePrototype(L"Widget", BuiltInPrototype(ClassId::Object)));
    Ref<Object> instance(Object::Create(proto.get()));
    EXPECT_STREQ(instance->TypeName(), L"Widget");
    Ref<Object> orphan(Object::Create(nullptr));
    EXPECT_STREQ(orphan->TypeName(), L"Object");
}

// A native class with one method and one read-write property, bound through a member table.
class Counter : public Object {
public:
    static Counter* Make(IObject* base) { return new Counter(base); }
    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int count) {
        if (identity == 0) {  // Add(n)
            m_value += count ? params[0]->valueInt64 : 1;
            result.value.SetInteger(m_value);
        } else if (invokeKind == InvokeSet) {
            m_value = params[0]->valueInt64;
        } else {
            result.value.SetInteger(m_value);
        }
        return Status::Ok;
    }

private:
    explicit Counter(IObject* base) : Object(base) {}
    int64_t m_value = 0;
};

const ObjectMemberDef kCounterMembers[] = {
    {L"Add", MemberThunk<Counter, &Counter::Member>, 0, MemberKind::Method, 0, 1},
    {L"Value", MemberThunk<Counter, &Counter::Member>, 1, MemberKind::ReadWriteProperty, 0, 0},
};

TEST_F(ObjectTest, NativeMembersAreReachedThroughInvokeMember) {
    Ref<Object> proto(CreatePrototype(L"Counter", BuiltInPrototype(ClassId::Object)));
    ASSERT_EQ(AddNativeMembers(proto.get(), L"Counter", kCounterMembers, 2), Status::Ok);
    Ref<Counter> c(Counter::Make(proto.get()));
    ValueToken self, five;
    self.SetObject(c.get());
    five.SetInteger(5);
    ValueToken* args[1] = {&five};
    Char scratch[kScratchChars];
    {
        CallResult r(scratch);
        ASSERT_EQ(c->InvokeMember(r, InvokeCall, L"add", self, args, 1), Status::Ok);
        EXPECT_EQ(r.value.valueInt64, 5);
    }
    {
        CallResult r(scratch);
        ASSERT_EQ(c->InvokeMember(r, InvokeSet, L"Value", self, args, 1), Status::Ok);
    }
    {
        CallResult r(scratch);
        ASSERT_EQ(c->InvokeMember(r, InvokeGet, L"VALUE", self, nullptr, 0), Status::Ok);
        EXPECT_EQ(r.value.valueInt64, 5);
    }
    {
        CallResult r(scratch);
        EXPECT_EQ(c->InvokeMember(r, InvokeGet | InvokeNoMeta, L"Missing", self, nullptr, 0), Status::NotHandled);
    }
    // Reading a method's name yields the function object, named after the prototype.
    CallResult r(scratch);
    ASSERT_EQ(c->InvokeMember(r, InvokeGet, L"Add", self, nullptr, 0), Status::Ok);
    ASSERT_EQ(r.value.symbol, static_cast<uint32_t>(SymObject));
    EXPECT_STREQ(r.value.object->TypeName(), L"Func");
}

TEST_F(ObjectTest, ObjectsShareNamesButKeepTheirOwnSpelling) {
    Ref<Object> a(Object::Create()), b(Object::Create()), c(Object::Create());
    ASSERT_EQ(a->SetOwnPropInteger(L"Name", 1), Status::Ok);
    ASSERT_EQ(b->SetOwnPropInteger(L"NAME", 2), Status::Ok);
    ASSERT_EQ(c->SetOwnPropInteger(L"Name", 3), Status::Ok);
    ASSERT_EQ(b->SetOwnPropInteger(L"name", 4), Status::Ok);  // the first spelling stays
    EXPECT_EQ(a->OwnPropAt(0).name, c->OwnPropAt(0).name);
    EXPECT_STREQ(b->OwnPropAt(0).name, L"NAME");
    EXPECT_TRUE(a->DeleteOwnProp(L"name"));
    a = Ref<Object>();
    EXPECT_STREQ(c->OwnPropAt(0).name, L"Name");  // still held by c
    EXPECT_EQ(c->FindOwnProp(L"nAmE"), &c->OwnPropAt(0));
    EXPECT_EQ(c->FindOwnProp(L"other"), nullptr);
}

TEST_F(ObjectTest, InheritedSpecialMembersFollowEveryChange) {
    Ref<Object> proto(CreatePrototype(L"Widget", BuiltInPrototype(ClassId::Object)));
    Ref<Object> instance(Object::Create(proto.get()));
    Ref<Object> ctor(Object::Create()), other(Object::Create()), finalizer(Object::Create());
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), nullptr);
    ASSERT_EQ(proto->DefineMethod(L"__New", ctor.get()), Status::Ok);
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), ctor.get());
    ASSERT_EQ(proto->DefineMethod(L"__New", other.get()), Status::Ok);  // replaced in the same entry
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), other.get());
    // An own value that is not an object ends the search; gone again, the inherited one shows.
    ASSERT_EQ(instance->SetOwnPropInteger(L"__New", 5), Status::Ok);
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), nullptr);
    EXPECT_TRUE(instance->DeleteOwnProp(L"__New"));
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), other.get());
    // A value set on the prototype, then its removal.
    ASSERT_EQ(proto->SetOwnPropInteger(L"__New", 1), Status::Ok);
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), nullptr);
    EXPECT_TRUE(proto->DeleteOwnProp(L"__New"));
    EXPECT_EQ(instance->FindSpecial(Object::Special::New), nullptr);
    // A new base of the prototype brings its members.
    Ref<Object> upper(CreatePrototype(L"Upper", BuiltInPrototype(ClassId::Object)));
    ASSERT_EQ(upper->DefineMethod(L"__Delete", finalizer.get()), Status::Ok);
    EXPECT_EQ(instance->FindSpecial(Object::Special::Delete), nullptr);
    ASSERT_EQ(proto->SetBase(upper.get()), Status::Ok);
    EXPECT_EQ(instance->FindSpecial(Object::Special::Delete), finalizer.get());
    EXPECT_EQ(instance->FindSpecial(Object::Special::Set), nullptr);
    ASSERT_EQ(proto->SetBase(BuiltInPrototype(ClassId::Object)), Status::Ok);
    EXPECT_EQ(instance->FindSpecial(Object::Special::Delete), nullptr);
}

}  // namespace
}  // namespace brm::test
