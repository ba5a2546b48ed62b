// Map: the native key-value class. Entries are enumerated in three sorted regions: Integer keys, object keys
// (by address), then String keys (by the map's comparison); MapIndex finds keys and positions.
#pragma once
#include <cstdint>
#include "objects/MapIndex.h"
#include "objects/Object.h"
#include "objects/ValueCell.h"

namespace brm {

class Map : public Object {
public:
    enum MapFlags : uint32_t {
        FlagCaseless = 0x04,  // String keys compare without regard to case
        FlagLocale = 0x08,    // ... by the system locale (set together with FlagCaseless)
    };

    // A new empty Map whose base is Map.Prototype (or the given base). Null when out of memory.
    static Map* Create(IObject* base = nullptr);

    uint32_t Count() const { return m_index.Count(); }
    // Stores value under key (both normalised as by the members). Raises on failure.
    Status SetItem(const ValueToken& key, const ValueToken& value);

    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount);

    // Enumeration reads entries in their order; null past the last.
    MapEntry* EntryAt(uint32_t i) { return m_index.At(i); }

protected:
    explicit Map(IObject* base) : Object(base) {}
    ~Map() override;

private:
    static void Normalise(const ValueToken& token, MapKey& key, Char* buffer);
    Status Insert(MapKey& key, const ValueToken& value);
    void Clear();
    void ReleaseEntry(MapEntry* e);
    // Fills an empty map with copies of another's entries. Raises when out of memory (nothing copied).
    Status CopyEntries(Map& from);

    MapIndex m_index;
    uint32_t m_capacity = 0;  // grows as entries are added (4, then doubling) or as a script sets it
};

// Registers the class with its members and instance maker; start-up calls it before CreateBuiltInClasses.
void RegisterMapClass();

}  // namespace brm
