// MapIndex: a map's entries and the two ways it reaches them. A hash table finds any key in amortised
// constant time; an ordered tree (a weight-balanced binary tree counting its subtrees, rebuilt in parts
// when a part leans) keeps every entry in enumeration order: Integer keys ascending, then object keys by
// address, then String keys by the map's comparison, and finds the entry at any position in logarithmic
// time. New keys wait unsorted in a pending list until an order is needed, then are sorted together and
// merged in, so that filling a map costs one sort, not one tree descent per key. Likewise a removed key
// leaves the hash table at once but its entry stays in the tree, marked, until an order is needed: many
// removals then rebuild the tree once.
// Keys compared by the system locale cannot be hashed consistently with that comparison: in such a map
// String keys skip the hash table and are looked up through the tree.
#pragma once
#include <cstddef>
#include <cstdint>
#include "objects/Object.h"
#include "objects/ValueCell.h"

namespace brm {

enum class MapKeyKind : uint8_t { Integer, Object, String };  // also the order of the regions
enum class MapTextOrder : uint8_t { Ordinal, FoldAZ, Locale };

// One entry; a String key's text follows the entry in the same block.
struct MapEntry {
    ValueCell value;
    union {
        int64_t keyInt;
        IObject* keyObject;  // counted
    };
    MapEntry* left;
    MapEntry* right;
    MapEntry* parent;
    uint32_t size;       // entries in the tree under and including this one; 0 while pending
    uint32_t hash;
    uint32_t pendingAt;  // position in the pending list, or kNotPending
    uint32_t length;     // a String key's length
    MapKeyKind kind;
    uint8_t sizeClass;   // the pool's size class of the block, 0 for a block of its own from the heap
    uint8_t state;       // kPlaced, or a removed entry still in the tree (kLeft, kLeftAndFreed)

    static constexpr uint32_t kNotPending = 0xFFFFFFFFu;
    static constexpr uint8_t kPlaced = 0, kLeft = 1, kLeftAndFreed = 2;
    Char* Text() { return reinterpret_cast<Char*>(this + 1); }
    const Char* Text() const { return reinterpret_cast<const Char*>(this + 1); }
};

// A key to look for, already normalised.
struct MapKey {
    MapKeyKind kind;
    int64_t integer;
    IObject* object;
    const Char* text;
    uint32_t length;
    uint32_t hash;  // set by Find, kept by NewEntry
};

class MapIndex {
public:
    MapIndex() = default;
    ~MapIndex();
    MapIndex(const MapIndex&) = delete;
    MapIndex& operator=(const MapIndex&) = delete;

    uint32_t Count() const { return m_count; }
    MapTextOrder TextOrder() const { return m_order; }
    void SetTextOrder(MapTextOrder order) { m_order = order; }  // only while empty

    MapEntry* Find(MapKey& key);
    // A fresh entry for a key that Find looked for (value Missing, text copied, an object key not yet
    // referenced), or null when out of memory. It belongs to no index until Add. Entries come from the
    // index's own pool: blocks of many entries, each freed entry reused for one of its size, all given back
    // when the last entry is freed (or with the index).
    MapEntry* NewEntry(const MapKey& key);
    void FreeEntry(MapEntry* e);
    // Makes room so that Add of `extra` more entries cannot fail. False when out of memory.
    bool Reserve(uint32_t extra);
    // Adds an entry whose key is absent (room reserved first).
    void Add(MapEntry* e);
    // Takes an entry out of the index; the caller then releases its key and value.
    void Remove(MapEntry* e);
    // The entry at a position in enumeration order, or null past the end. Steps forward cheaply.
    MapEntry* At(uint32_t position);
    // The last entry in enumeration order, or null when empty.
    MapEntry* Last();
    // Adds entries that are already in enumeration order, to an empty index. False when out of memory.
    bool AddSorted(MapEntry** entries, uint32_t count);
    // Whether every entry's release runs no script code: no object keys or values, and no entry held
    // outside the index (one being released at the moment).
    bool AllPlain();
    // Frees every entry with its value at once, when AllPlain. The hash table keeps its room.
    void DropAllPlain();
    // Shrinks or grows the hash table for `capacity` entries (at least the count). False when out of memory.
    bool Resize(uint32_t capacity);

private:
    struct Slot {
        uint32_t hash;
        MapEntry* entry;
    };
    uint32_t HashOf(const MapKey& key) const;
    bool Hashed(MapKeyKind kind) const { return kind != MapKeyKind::String || m_order != MapTextOrder::Locale; }
    bool KeyEquals(const MapEntry* e, const MapKey& key) const;
    int CompareKey(const MapKey& key, const MapEntry* e) const;
    int Compare(const MapEntry* a, const MapEntry* b) const;
    bool RehashTo(uint32_t slotCount);
    void HashInsert(MapEntry* e);
    void HashRemove(MapEntry* e);

    void Flush();
    void Purge();
    void FreeBlock(MapEntry* e);
    void SortPending();
    void Invalidate();
    void TreeInsert(MapEntry* e);
    void TreeUnlink(MapEntry* e);
    void Replace(MapEntry* old, MapEntry* with);
    void Rebalance(MapEntry* from);
    MapEntry* RebuildSubtree(MapEntry* top);
    static MapEntry* Build(MapEntry** entries, uint32_t count, MapEntry* parent);
    static uint32_t Flatten(MapEntry* top, MapEntry** out);
    MapEntry* TreeFind(const MapKey& key) const;

    static constexpr uint32_t kPoolClasses = 64;  // entries up to 64 * 8 bytes come from the pool
    void* m_chunks = nullptr;                     // the pool's blocks, linked through their first word
    char* m_bump = nullptr;                       // free space at the end of the newest block
    char* m_bumpEnd = nullptr;
    void* m_free[kPoolClasses + 1] = {};          // freed entries by size class, linked through their first word
    uint32_t m_live = 0;                          // entries made and not yet freed
    void ReleasePool();

    Slot* m_slots = nullptr;
    uint32_t m_slotCount = 0;  // a power of two, or 0
    uint32_t m_hashed = 0;     // entries in the hash table
    uint32_t m_count = 0;      // all entries
    MapEntry* m_root = nullptr;
    uint32_t m_treeHigh = 0;   // the tree's largest size since it was last rebuilt whole
    MapEntry** m_left = nullptr;  // removed entries still in the tree
    uint32_t m_leftCount = 0;
    uint32_t m_leftCapacity = 0;
    MapEntry** m_pending = nullptr;
    uint32_t m_pendingCount = 0;
    uint32_t m_pendingCapacity = 0;
    MapEntry* m_cursor = nullptr;  // the entry At last returned, while the tree has not changed since
    uint32_t m_cursorAt = 0;
    MapEntry** m_sequence = nullptr;  // every entry in order, kept from a rebuild until the tree changes
    MapTextOrder m_order = MapTextOrder::Ordinal;
};

}  // namespace brm
