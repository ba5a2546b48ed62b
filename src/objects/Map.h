// Map: the native key-value class. Entries sit in three sorted regions: Integer keys, object keys (by
// address), then String keys (by the map's comparison), so that only String keys are ever compared as text.
#pragma once
#include <cstdint>
#include "objects/Object.h"
#include "objects/ValueCell.h"

namespace brm {

struct MapEntry {
    ValueCell value;
    Char keyChar;  // a case-sensitive map's first character of a String key; 0 otherwise
    union {
        int64_t keyInt;
        IObject* keyObject;  // counted
        Char* keyText;       // owned, terminated
    };
};

class Map : public Object {
public:
    enum MapFlags : uint32_t {
        FlagCaseless = 0x04,  // String keys compare without regard to case
        FlagLocale = 0x08,    // ... by the system locale (set together with FlagCaseless)
    };

    // A new empty Map whose base is Map.Prototype (or the given base). Null when out of memory.
    static Map* Create(IObject* base = nullptr);

    uint32_t Count() const { return m_count; }
    // Stores value under key (both normalised as by the members). Raises on failure.
    Status SetItem(const ValueToken& key, const ValueToken& value);

    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount);

    // Enumeration reads entries in stored order.
    MapEntry& EntryAt(uint32_t i) { return m_entries[i]; }
    bool IsIntegerEntry(uint32_t i) const { return i < m_intCount; }
    bool IsObjectEntry(uint32_t i) const { return i >= m_intCount && i < m_nonStringCount; }

protected:
    explicit Map(IObject* base) : Object(base) {}
    ~Map() override;

private:
    struct Key {
        enum Kind : uint8_t { Integer, Object, String } kind;
        int64_t integer;
        IObject* object;
        const Char* text;
        Char buffer[kScratchChars];
    };
    static void Normalise(const ValueToken& token, Key& key);
    // Binary search; found or not, *at is the entry's or the insertion position.
    bool Find(const Key& key, uint32_t* at);
    int CompareText(const Char* a, Char aKey, const Char* b, Char bKey) const;
    bool Grow(uint32_t capacity);
    Status Insert(const Key& key, uint32_t at, const ValueToken& value);
    void Clear();

    MapEntry* m_entries = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
    uint32_t m_intCount = 0;
    uint32_t m_nonStringCount = 0;
};

// Registers the class with its members and instance maker; start-up calls it before CreateBuiltInClasses.
void RegisterMapClass();

}  // namespace brm
