// Enumeration into an Array: what a spread argument `f(x*)` receives when x is not an Array itself.
#include <gtest/gtest.h>
#include "objects/Array.h"
#include "objects/Enumerator.h"
#include "objects/Map.h"
#include "objects/NativeClass.h"

namespace brm::test {
namespace {

class EnumeratorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateBuiltInClasses(), Status::Ok); }
};

TEST_F(EnumeratorTest, MapKeysBecomeArrayItemsInOrder) {
    Ref<Map> map(Map::Create());
    ValueToken key, value;
    for (int64_t k : {3, 1, 2}) {
        key.SetInteger(k);
        value.SetInteger(k * 10);
        ASSERT_EQ(map->SetItem(key, value), Status::Ok);
    }
    ValueToken source;
    source.SetObject(map.get());
    Array* collected = nullptr;
    ASSERT_EQ(EnumerateToArray(source, collected), Status::Ok);
    Ref<Array> owner(collected);
    ASSERT_EQ(collected->Length(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        const ValueCell& c = collected->ItemAt(i);
        ASSERT_EQ(c.kind, PropKind::Integer);
        EXPECT_EQ(c.valueInt64, static_cast<int64_t>(i + 1));  // a Map enumerates its keys in order
    }
}

TEST_F(EnumeratorTest, AnEmptyCollectionGivesAnEmptyArray) {
    Ref<Map> map(Map::Create());
    ValueToken source;
    source.SetObject(map.get());
    Array* collected = nullptr;
    ASSERT_EQ(EnumerateToArray(source, collected), Status::Ok);
    Ref<Array> owner(collected);
    EXPECT_EQ(collected->Length(), 0u);
}

}  // namespace
}  // namespace brm::test
