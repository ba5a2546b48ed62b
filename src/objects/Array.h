// Array: the native list class. Elements are contiguous cells; a Missing cell is an element without a value.
// Indexes are 1-based; 0 and negative indexes count from the end (-1 is the last, 0 one past the last).
#pragma once
#include <cstdint>
#include "objects/Object.h"
#include "objects/ValueCell.h"

namespace brm {

class Array : public Object {
public:
    // A new empty Array whose base is Array.Prototype (or the given base). Null when out of memory.
    static Array* Create(IObject* base = nullptr);

    uint32_t Length() const { return m_count; }
    uint32_t Capacity() const { return m_capacity; }
    ValueCell& ItemAt(uint32_t i) { return m_items[i]; }

    // Appends copies of values (Missing tokens become Missing elements). Raises "Out of memory." on failure.
    Status Append(ValueToken** values, int count);
    Status AppendText(const Char* text, int32_t length = -1);
    // Inserts before the 0-based position (at most Length()); raises "Out of memory." on failure.
    Status InsertAt(uint32_t position, ValueToken** values, int count);

    // The 0-based position of an index argument: I <= 0 counts from the end. -1 when out of any range.
    static int64_t Position(int64_t index, uint32_t count);

    // Member routines (see the member table in Array.cpp).
    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount);

protected:
    explicit Array(IObject* base) : Object(base) {}
    ~Array() override;

private:
    bool Reserve(uint64_t capacity);  // exactly this many cells (not below the count)
    void Truncate(uint32_t newCount);  // releases the elements beyond newCount
    Status ItemOrDefault(CallResult& result, ValueToken& index, ValueToken* fallback);

    ValueCell* m_items = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
};

// The shared index step for the member routines of arrays and maps: when an element has no value, the
// caller's Default argument, else the object's Default property, else "Item has no value.".
Status MissingItem(Object* self, CallResult& result, ValueToken* fallback, const ValueToken& key);

// Copies the own properties of one object to another (values copied, accessors referenced), for Clone.
Status CopyOwnProps(Object* from, Object* to);

// Registers the class with its members and instance maker; start-up calls it before CreateBuiltInClasses.
void RegisterArrayClass();
// `[a, b, ...]`: a new Array of the values (omitted ones Missing), one reference in result.
Status CreateArrayLiteral(CallResult& result, ValueToken** params, int count);
// Assigns the global A_Args an Array of the script's arguments; start-up calls it before the script loads.
Status CreateArgsArray();

}  // namespace brm
