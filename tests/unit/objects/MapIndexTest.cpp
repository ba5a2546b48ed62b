// MapIndex against a plain ordered reference: random additions (in batches, so that both the bulk merge and
// single tree insertions run), removals of pending and placed entries, lookups, positions and the last entry,
// for each text order.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include "objects/MapIndex.h"

namespace brm::test {
namespace {

struct RefKey {
    MapKeyKind kind;
    int64_t integer;
    intptr_t address;
    std::wstring text;
};

struct RefLess {
    MapTextOrder order;
    static std::wstring Fold(const std::wstring& s) {
        std::wstring f = s;
        for (auto& c : f)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
        return f;
    }
    bool operator()(const RefKey& a, const RefKey& b) const {
        if (a.kind != b.kind) return a.kind < b.kind;
        if (a.kind == MapKeyKind::Integer) return a.integer < b.integer;
        if (a.kind == MapKeyKind::Object) return a.address < b.address;
        if (order == MapTextOrder::Locale) return lstrcmpiW(a.text.c_str(), b.text.c_str()) < 0;
        if (order == MapTextOrder::FoldAZ) return Fold(a.text) < Fold(b.text);
        return a.text < b.text;  // wchar_t is an unsigned 16-bit unit here: ordinal
    }
};

MapKey KeyOf(const RefKey& r) {
    MapKey k{};
    k.kind = r.kind;
    k.integer = r.integer;
    k.object = reinterpret_cast<IObject*>(r.address);
    k.text = r.text.c_str();
    k.length = static_cast<uint32_t>(r.text.size());
    return k;
}

class Harness {
public:
    Harness(MapTextOrder order, uint32_t seed) : m_ref(RefLess{order}), m_rng(seed) { m_index.SetTextOrder(order); }
    ~Harness() {
        while (MapEntry* e = m_index.Last()) {
            m_index.Remove(e);
            m_index.FreeEntry(e);
        }
    }

    RefKey RandomKey(bool longTexts) {
        RefKey r{};
        int pick = static_cast<int>(m_rng() % 10);
        if (pick < 2) {
            r.kind = MapKeyKind::Integer;
            r.integer = static_cast<int64_t>(m_rng() % 2000) - 1000;
            if (pick == 0 && m_rng() % 8 == 0) r.integer = m_rng() % 2 ? INT64_MIN : INT64_MAX;
        } else if (pick < 3) {
            r.kind = MapKeyKind::Object;
            // Addresses above 2^31 on the 32-bit build are negative as signed numbers and sort first.
            r.address = static_cast<intptr_t>(static_cast<uintptr_t>(0x10000u + (m_rng() % 500) * 16u + (m_rng() % 2 ? 0x80000000u : 0)));
        } else {
            r.kind = MapKeyKind::String;
            static const wchar_t alphabet[] = {L'a', L'A', L'b', L'B', L'_', L'z', L'Z', L'0', L' ', 0xE4, 0xC4, 0xFFFF};
            size_t length = m_rng() % 7;
            if (longTexts && m_rng() % 4 == 0) r.text.assign(300 + m_rng() % 3, L'x');
            else if (m_rng() % 3 == 0) r.text = L"prefix-shared-by-many";
            for (size_t i = 0; i < length; ++i) r.text += alphabet[m_rng() % (sizeof(alphabet) / sizeof(alphabet[0]))];
        }
        return r;
    }

    void Add(const RefKey& r) {
        MapKey k = KeyOf(r);
        MapEntry* found = m_index.Find(k);
        auto it = m_ref.find(r);
        ASSERT_EQ(found != nullptr, it != m_ref.end());
        if (found) {
            ASSERT_EQ(found, it->second);
            return;
        }
        ASSERT_TRUE(m_index.Reserve(1));
        MapEntry* e = m_index.NewEntry(k);
        ASSERT_NE(e, nullptr);
        m_index.Add(e);
        m_ref.emplace(r, e);
    }

    void RemoveRandom() {
        if (m_ref.empty()) return;
        auto it = m_ref.begin();
        std::advance(it, m_rng() % m_ref.size());
        MapKey k = KeyOf(it->first);
        MapEntry* e = m_index.Find(k);
        ASSERT_EQ(e, it->second);
        m_index.Remove(e);
        m_ref.erase(it);
        // Sometimes the order is needed while the removed entry is still held (its value being released).
        if (m_rng() % 5 == 0) {
            ASSERT_EQ(m_index.At(0), m_ref.empty() ? nullptr : m_ref.begin()->second);
        }
        m_index.FreeEntry(e);
    }

    void CheckAll() {
        ASSERT_EQ(m_index.Count(), m_ref.size());
        uint32_t i = 0;
        for (auto& [key, entry] : m_ref) {
            ASSERT_EQ(m_index.At(i), entry) << "position " << i;
            MapKey k = KeyOf(key);
            ASSERT_EQ(m_index.Find(k), entry);
            ++i;
        }
        ASSERT_EQ(m_index.At(i), nullptr);
        ASSERT_EQ(m_index.Last(), m_ref.empty() ? nullptr : m_ref.rbegin()->second);
    }

    void CheckSome() {
        if (m_ref.empty()) return;
        for (int n = 0; n < 5; ++n) {
            uint32_t p = static_cast<uint32_t>(m_rng() % m_ref.size());
            auto it = m_ref.begin();
            std::advance(it, p);
            ASSERT_EQ(m_index.At(p), it->second);
        }
    }

    std::mt19937& Rng() { return m_rng; }

private:
    MapIndex m_index;
    std::map<RefKey, MapEntry*, RefLess> m_ref;
    std::mt19937 m_rng;
};

void Exercise(MapTextOrder order, uint32_t seed, int rounds) {
    Harness h(order, seed);
    for (int round = 0; round < rounds; ++round) {
        // Batches of all sizes: a large one merges into the tree whole, a small one goes in key by key.
        uint32_t batch = round % 7 == 0 ? 3000 : h.Rng()() % 40;
        for (uint32_t i = 0; i < batch; ++i) {
            h.Add(h.RandomKey(round % 5 == 0));
            if (::testing::Test::HasFatalFailure()) return;
        }
        uint32_t removals = h.Rng()() % (round % 11 == 10 ? 4000 : 30);
        for (uint32_t i = 0; i < removals; ++i) {
            h.RemoveRandom();
            if (::testing::Test::HasFatalFailure()) return;
        }
        if (round % 10 == 9) h.CheckAll();
        else h.CheckSome();
        if (::testing::Test::HasFatalFailure()) return;
    }
    h.CheckAll();
}

TEST(MapIndexTest, OrdinalOrderMatchesTheReference) { Exercise(MapTextOrder::Ordinal, 1, 60); }
TEST(MapIndexTest, FoldedOrderMatchesTheReference) { Exercise(MapTextOrder::FoldAZ, 2, 60); }
TEST(MapIndexTest, LocaleOrderMatchesTheReference) { Exercise(MapTextOrder::Locale, 3, 25); }

TEST(MapIndexTest, AddingDuringASteppedWalkKeepsPositions) {
    Harness h(MapTextOrder::Ordinal, 4);
    for (int i = 0; i < 2000; ++i) h.Add(h.RandomKey(false));
    h.CheckAll();
    // One addition and one removal between positions, as a script changing a map while enumerating it.
    for (int i = 0; i < 300; ++i) {
        h.Add(h.RandomKey(false));
        h.RemoveRandom();
        h.CheckSome();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
    }
    h.CheckAll();
}

}  // namespace
}  // namespace brm::test
