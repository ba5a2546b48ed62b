// MapIndex: the hash table (open addressing, linear probing, deletion by shifting back), the ordered tree
// (weight-balanced by partial rebuilding) and the pending list that joins them.
#include "objects/MapIndex.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <windows.h>
#include "base/SortedTable.h"

namespace brm {

namespace {

inline uint32_t SizeOf(const MapEntry* e) { return e ? e->size : 0; }

inline uint32_t Mix64(uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return static_cast<uint32_t>(x);
}

// Keys that come from outside (a file read into a map) could be chosen to fall into one run of slots; a
// seed drawn once per process makes such a choice guesswork. Enumeration order never depends on it.
uint64_t MakeHashSeed() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
           static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&counter));
}
const uint64_t s_hashSeed = MakeHashSeed();

inline Char FoldAZ(Char c) { return c >= L'A' && c <= L'Z' ? static_cast<Char>(c + 32) : c; }

// Ordinal order of code units, a shorter text first when it is a prefix of the other.
inline int CompareOrdinal(const Char* a, uint32_t aLength, const Char* b, uint32_t bLength) {
    uint32_t n = aLength < bLength ? aLength : bLength;
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

MapEntry* Leftmost(MapEntry* e) {
    while (e->left) e = e->left;
    return e;
}

MapEntry* Successor(MapEntry* e) {
    if (e->right) return Leftmost(e->right);
    while (e->parent && e->parent->right == e) e = e->parent;
    return e->parent;
}

// A subtree leans when its heavier side holds more than about 70% of it; rebuilding such subtrees keeps
// every path logarithmic, at an amortised logarithmic cost per insertion.
inline bool Leans(const MapEntry* e) {
    uint32_t heavy = std::max(SizeOf(e->left), SizeOf(e->right));
    return static_cast<uint64_t>(heavy) * 10 > static_cast<uint64_t>(e->size) * 7 + 10;
}

}  // namespace

MapIndex::~MapIndex() {
    for (uint32_t i = 0; i < m_leftCount; ++i)
        if (m_left[i]->state == MapEntry::kLeftAndFreed && !m_left[i]->sizeClass) free(m_left[i]);
    free(m_left);
    ReleasePool();
    free(m_sequence);
    free(m_slots);
    free(m_pending);
}

uint32_t MapIndex::HashOf(const MapKey& key) const {
    switch (key.kind) {
    case MapKeyKind::Integer: return Mix64(static_cast<uint64_t>(key.integer) ^ s_hashSeed);
    case MapKeyKind::Object: return Mix64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key.object)) ^ ~s_hashSeed);
    default: break;
    }
    uint32_t h = 2166136261u ^ static_cast<uint32_t>(s_hashSeed >> 32);
    if (m_order == MapTextOrder::FoldAZ) {
        for (uint32_t i = 0; i < key.length; ++i) h = (h ^ FoldAZ(key.text[i])) * 16777619u;
    } else {
        for (uint32_t i = 0; i < key.length; ++i) h = (h ^ key.text[i]) * 16777619u;
    }
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

bool MapIndex::KeyEquals(const MapEntry* e, const MapKey& key) const {
    if (e->kind != key.kind) return false;
    switch (key.kind) {
    case MapKeyKind::Integer: return e->keyInt == key.integer;
    case MapKeyKind::Object: return e->keyObject == key.object;
    default: break;
    }
    if (e->length != key.length) return false;
    const Char* t = e->Text();
    if (m_order == MapTextOrder::FoldAZ) {
        for (uint32_t i = 0; i < key.length; ++i)
            if (FoldAZ(t[i]) != FoldAZ(key.text[i])) return false;
        return true;
    }
    return !wmemcmp(t, key.text, key.length);
}

int MapIndex::CompareKey(const MapKey& key, const MapEntry* e) const {
    if (key.kind != e->kind) return key.kind < e->kind ? -1 : 1;
    switch (key.kind) {
    case MapKeyKind::Integer: return key.integer < e->keyInt ? -1 : key.integer > e->keyInt ? 1 : 0;
    case MapKeyKind::Object: {
        auto a = reinterpret_cast<intptr_t>(key.object), b = reinterpret_cast<intptr_t>(e->keyObject);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default: break;
    }
    switch (m_order) {
    case MapTextOrder::Ordinal: return CompareOrdinal(key.text, key.length, e->Text(), e->length);
    case MapTextOrder::FoldAZ: return CompareFoldAZ(key.text, key.length, e->Text(), e->length);
    default: return lstrcmpiW(key.text, e->Text());
    }
}

int MapIndex::Compare(const MapEntry* a, const MapEntry* b) const {
    MapKey key;
    key.kind = a->kind;
    key.integer = a->keyInt;
    key.object = a->keyObject;
    key.text = a->Text();
    key.length = a->length;
    return CompareKey(key, b);
}

namespace {
constexpr size_t kChunkBytes = 65536;
}  // namespace

MapEntry* MapIndex::NewEntry(const MapKey& key) {
    size_t bytes = sizeof(MapEntry);
    if (key.kind == MapKeyKind::String) bytes += (static_cast<size_t>(key.length) + 1) * sizeof(Char);
    bytes = (bytes + 7) & ~static_cast<size_t>(7);
    size_t sizeClass = bytes / 8;
    MapEntry* e;
    if (sizeClass > kPoolClasses) {
        e = static_cast<MapEntry*>(malloc(bytes));
        if (!e) return nullptr;
        sizeClass = 0;
    } else if (m_free[sizeClass]) {
        void* block = m_free[sizeClass];
        m_free[sizeClass] = *static_cast<void**>(block);
        e = static_cast<MapEntry*>(block);
    } else {
        if (static_cast<size_t>(m_bumpEnd - m_bump) < bytes) {
            // The rest of the old block is left unused: at most one largest entry's worth.
            auto* chunk = static_cast<char*>(malloc(kChunkBytes));
            if (!chunk) return nullptr;
            *reinterpret_cast<void**>(chunk) = m_chunks;
            m_chunks = chunk;
            m_bump = chunk + 8;
            m_bumpEnd = chunk + kChunkBytes;
        }
        e = reinterpret_cast<MapEntry*>(m_bump);
        m_bump += bytes;
    }
    ++m_live;
    e->value.SetMissing();
    e->keyInt = 0;
    if (key.kind == MapKeyKind::Integer) e->keyInt = key.integer;
    else if (key.kind == MapKeyKind::Object) e->keyObject = key.object;
    e->left = e->right = e->parent = nullptr;
    e->size = 0;
    e->hash = key.hash;
    e->pendingAt = MapEntry::kNotPending;
    e->length = 0;
    e->kind = key.kind;
    e->sizeClass = static_cast<uint8_t>(sizeClass);
    e->state = MapEntry::kPlaced;
    if (key.kind == MapKeyKind::String) {
        e->length = key.length;
        wmemcpy(e->Text(), key.text, key.length);
        e->Text()[key.length] = 0;
    }
    return e;
}

void MapIndex::FreeEntry(MapEntry* e) {
    // Still a node of the tree: freed when it leaves the tree.
    if (e->state == MapEntry::kLeft) {
        e->state = MapEntry::kLeftAndFreed;
        return;
    }
    FreeBlock(e);
}

void MapIndex::FreeBlock(MapEntry* e) {
    if (!e->sizeClass) free(e);
    else {
        *reinterpret_cast<void**>(e) = m_free[e->sizeClass];
        m_free[e->sizeClass] = e;
    }
    // Only when no entry is left anywhere (a key or value being released may still hold one that has left
    // the index) can the blocks go.
    if (!--m_live) ReleasePool();
}

bool MapIndex::AllPlain() {
    Purge();  // new keys need no sorting to be let go
    if (m_live != m_count) return false;
    auto plain = [](const MapEntry* e) { return e->kind != MapKeyKind::Object && e->value.kind != PropKind::Object; };
    for (uint32_t i = 0; i < m_pendingCount; ++i)
        if (!plain(m_pending[i])) return false;
    if (!m_root) return true;
    for (MapEntry* x = Leftmost(m_root); x; x = Successor(x))
        if (!plain(x)) return false;
    return true;
}

void MapIndex::DropAllPlain() {
    auto drop = [](MapEntry* e) {
        e->value.Drop();
        if (!e->sizeClass) free(e);  // pool blocks go all together below
    };
    for (uint32_t i = 0; i < m_pendingCount; ++i) drop(m_pending[i]);
    // Children before their parent, detaching each from it, so that the walk never reads a freed entry.
    for (MapEntry* x = m_root; x;) {
        if (x->left) x = x->left;
        else if (x->right) x = x->right;
        else {
            MapEntry* p = x->parent;
            if (p) (p->left == x ? p->left : p->right) = nullptr;
            drop(x);
            x = p;
        }
    }
    Invalidate();
    m_root = nullptr;
    m_treeHigh = 0;
    m_pendingCount = 0;
    if (m_hashed) memset(m_slots, 0, static_cast<size_t>(m_slotCount) * sizeof(Slot));
    m_hashed = 0;
    m_count = 0;
    m_live = 0;
    ReleasePool();
}

void MapIndex::ReleasePool() {
    while (m_chunks) {
        void* next = *static_cast<void**>(m_chunks);
        free(m_chunks);
        m_chunks = next;
    }
    m_bump = m_bumpEnd = nullptr;
    for (auto& head : m_free) head = nullptr;
}

MapEntry* MapIndex::Find(MapKey& key) {
    if (!Hashed(key.kind)) return TreeFind(key);
    key.hash = HashOf(key);
    if (!m_slotCount) return nullptr;
    uint32_t mask = m_slotCount - 1;
    for (uint32_t i = key.hash & mask;; i = (i + 1) & mask) {
        const Slot& s = m_slots[i];
        if (!s.entry) return nullptr;
        if (s.hash == key.hash && KeyEquals(s.entry, key)) return s.entry;
    }
}

MapEntry* MapIndex::TreeFind(const MapKey& key) const {
    MapEntry* x = m_root;
    while (x) {
        int c = CompareKey(key, x);
        if (!c) return x;
        x = c < 0 ? x->left : x->right;
    }
    return nullptr;
}

bool MapIndex::RehashTo(uint32_t slotCount) {
    auto* slots = static_cast<Slot*>(calloc(slotCount, sizeof(Slot)));
    if (!slots) return false;
    uint32_t mask = slotCount - 1;
    for (uint32_t i = 0; i < m_slotCount; ++i) {
        if (!m_slots[i].entry) continue;
        uint32_t j = m_slots[i].hash & mask;
        while (slots[j].entry) j = (j + 1) & mask;
        slots[j] = m_slots[i];
    }
    free(m_slots);
    m_slots = slots;
    m_slotCount = slotCount;
    return true;
}

namespace {
// Slots for n hashed entries, at most half full; 0 past 2^30 slots (half a billion entries, far beyond what
// the entries themselves could take from memory), so that an absurd Capacity fails the same on every build.
constexpr uint64_t kMostSlots = 1ull << 30;
uint32_t SlotsFor(uint64_t n) {
    uint64_t slots = 8;
    while (slots < n * 2) slots *= 2;
    return slots > kMostSlots ? 0 : static_cast<uint32_t>(slots);
}
}  // namespace

bool MapIndex::Reserve(uint32_t extra) {
    uint64_t hashed = static_cast<uint64_t>(m_hashed) + extra;
    if (hashed * 2 > m_slotCount) {
        uint32_t slots = SlotsFor(hashed);
        if (!slots || !RehashTo(slots)) return false;
    }
    uint64_t pending = static_cast<uint64_t>(m_pendingCount) + extra;
    if (pending > m_pendingCapacity) {
        uint64_t capacity = std::max<uint64_t>({pending, static_cast<uint64_t>(m_pendingCapacity) * 2, 16});
        if (capacity > 0x7FFFFFFFu) capacity = pending;
        if (capacity > 0x7FFFFFFFu) return false;
        auto* list = static_cast<MapEntry**>(realloc(m_pending, static_cast<size_t>(capacity) * sizeof(MapEntry*)));
        if (!list) return false;
        m_pending = list;
        m_pendingCapacity = static_cast<uint32_t>(capacity);
    }
    return true;
}

bool MapIndex::Resize(uint32_t capacity) {
    if (capacity < m_count) capacity = m_count;
    if (!capacity) {
        free(m_slots);
        m_slots = nullptr;
        m_slotCount = 0;
        free(m_pending);
        m_pending = nullptr;
        m_pendingCapacity = 0;
        return true;
    }
    uint32_t slots = SlotsFor(std::max(capacity, m_hashed));
    if (!slots) return false;
    return slots == m_slotCount || RehashTo(slots);
}

void MapIndex::HashInsert(MapEntry* e) {
    uint32_t mask = m_slotCount - 1;
    uint32_t i = e->hash & mask;
    while (m_slots[i].entry) i = (i + 1) & mask;
    m_slots[i].hash = e->hash;
    m_slots[i].entry = e;
    ++m_hashed;
}

void MapIndex::HashRemove(MapEntry* e) {
    uint32_t mask = m_slotCount - 1;
    uint32_t i = e->hash & mask;
    while (m_slots[i].entry != e) i = (i + 1) & mask;
    // Shift back each later entry of the run that may sit in the freed slot, so that no search stops early.
    for (uint32_t j = (i + 1) & mask; m_slots[j].entry; j = (j + 1) & mask) {
        uint32_t home = m_slots[j].hash & mask;
        bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (stays) continue;
        m_slots[i] = m_slots[j];
        i = j;
    }
    m_slots[i].entry = nullptr;
    --m_hashed;
}

void MapIndex::Add(MapEntry* e) {
    ++m_count;
    if (!Hashed(e->kind)) {
        TreeInsert(e);
        return;
    }
    HashInsert(e);
    e->size = 0;
    e->pendingAt = m_pendingCount;
    m_pending[m_pendingCount++] = e;
}

void MapIndex::Remove(MapEntry* e) {
    --m_count;
    if (Hashed(e->kind)) HashRemove(e);
    if (e->pendingAt != MapEntry::kNotPending) {
        MapEntry* last = m_pending[--m_pendingCount];
        m_pending[e->pendingAt] = last;
        last->pendingAt = e->pendingAt;
        e->pendingAt = MapEntry::kNotPending;
        return;
    }
    if (Hashed(e->kind) && m_leftCount == m_leftCapacity) {
        uint32_t capacity = m_leftCapacity ? m_leftCapacity * 2 : 16;
        auto* list = capacity > m_leftCapacity ? static_cast<MapEntry**>(realloc(m_left, static_cast<size_t>(capacity) * sizeof(MapEntry*))) : nullptr;
        if (list) {
            m_left = list;
            m_leftCapacity = capacity;
        }
    }
    // A key found by the tree (one compared by the locale) cannot wait there: the tree must not find it.
    if (!Hashed(e->kind) || m_leftCount == m_leftCapacity) {
        TreeUnlink(e);
        return;
    }
    e->state = MapEntry::kLeft;
    m_left[m_leftCount++] = e;
    if (!m_count) Purge();
}

void MapIndex::Purge() {
    if (!m_leftCount) return;
    Invalidate();
    uint32_t tree = SizeOf(m_root);
    bool rebuilt = false;
    // Many removed: build the tree again from the entries that stay, linear in its size.
    if (m_leftCount >= tree / 8) {
        auto* all = static_cast<MapEntry**>(malloc(static_cast<size_t>(tree) * sizeof(MapEntry*)));
        if (all) {
            Flatten(m_root, all);
            uint32_t kept = 0;
            for (uint32_t i = 0; i < tree; ++i)
                if (all[i]->state == MapEntry::kPlaced) all[kept++] = all[i];
            m_root = Build(all, kept, nullptr);
            m_treeHigh = kept;
            free(all);
            rebuilt = true;
        }
    }
    uint32_t count = m_leftCount;
    m_leftCount = 0;
    for (uint32_t i = 0; i < count; ++i) {
        MapEntry* e = m_left[i];
        if (!rebuilt) TreeUnlink(e);
        e->left = e->right = e->parent = nullptr;
        e->size = 0;
        // An entry whose key or value is still being released is freed by FreeEntry as usual.
        if (e->state == MapEntry::kLeftAndFreed) FreeBlock(e);
        else e->state = MapEntry::kPlaced;
    }
}

void MapIndex::Invalidate() {
    m_cursor = nullptr;
    if (m_sequence) {
        free(m_sequence);
        m_sequence = nullptr;
    }
}

namespace {

// Sorting new keys: each key is represented by 64 bits of its order (an Integer or an address with its sign
// bit turned, or four code units of a text), so that the sort moves and compares small records instead of
// reaching each entry for every comparison; texts that share those four units are then sorted by the next
// four, and so on.
struct SortItem {
    uint64_t prefix;
    MapEntry* entry;
};

constexpr uint32_t kRadixMin = 2048;      // fewer items sort faster by comparison
constexpr uint32_t kPrefixLevels = 64;    // runs still tied after this many rounds sort by whole comparison

uint64_t TextPrefix(const MapEntry* e, uint32_t depth, bool fold) {
    uint64_t p = 0;
    const Char* t = e->Text();
    for (uint32_t k = 0; k < 4; ++k) {
        uint32_t i = depth + k;
        Char c = i < e->length ? t[i] : 0;
        if (fold) c = FoldAZ(c);
        p = (p << 16) | c;
    }
    return p;
}

// Least significant digit first, 16 bits a pass; a pass whose digit is the same in every item is skipped.
void RadixSort(SortItem* items, SortItem* temp, uint32_t n, uint32_t* counts) {
    SortItem* from = items;
    SortItem* to = temp;
    for (int shift = 0; shift < 64; shift += 16) {
        memset(counts, 0, 65536 * sizeof(uint32_t));
        for (uint32_t i = 0; i < n; ++i) ++counts[(from[i].prefix >> shift) & 0xFFFF];
        if (counts[(from[0].prefix >> shift) & 0xFFFF] == n) continue;
        uint32_t sum = 0;
        for (uint32_t d = 0; d < 65536; ++d) {
            uint32_t c = counts[d];
            counts[d] = sum;
            sum += c;
        }
        for (uint32_t i = 0; i < n; ++i) to[counts[(from[i].prefix >> shift) & 0xFFFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != items) memcpy(items, from, static_cast<size_t>(n) * sizeof(SortItem));
}

void SortByPrefix(SortItem* items, SortItem* temp, uint32_t n, uint32_t* counts) {
    if (n >= kRadixMin && temp && counts) RadixSort(items, temp, n, counts);
    else std::sort(items, items + n, [](const SortItem& a, const SortItem& b) { return a.prefix < b.prefix; });
}

// How many units from `depth` on all texts of a run share (the run holds distinct texts, at least two).
uint32_t SharedUnits(const SortItem* part, uint32_t n, uint32_t depth, bool fold) {
    const MapEntry* first = part[0].entry;
    uint32_t shared = first->length > depth ? first->length - depth : 0;
    const Char* a = first->Text() + depth;
    for (uint32_t i = 1; i < n && shared; ++i) {
        const MapEntry* e = part[i].entry;
        uint32_t limit = e->length > depth ? std::min(shared, e->length - depth) : 0;
        const Char* b = e->Text() + depth;
        uint32_t k = 0;
        if (fold) {
            while (k < limit && FoldAZ(a[k]) == FoldAZ(b[k])) ++k;
        } else {
            while (k < limit && a[k] == b[k]) ++k;
        }
        shared = k;
    }
    return shared;
}

// Sorts texts from the unit at `depth` on, past the units they all share; runs that share the next four
// units are sorted by the units after them (a run ends with its keys' four units all present, as distinct
// keys cannot end there together).
template <class Compare>
void SortTexts(SortItem* part, uint32_t n, uint32_t depth, uint32_t level, bool fold, SortItem* temp, uint32_t* counts,
               const Compare& byEntry) {
    if (n < 2) return;
    if (level >= kPrefixLevels) {
        std::sort(part, part + n, byEntry);
        return;
    }
    depth += SharedUnits(part, n, depth, fold);
    for (uint32_t i = 0; i < n; ++i) part[i].prefix = TextPrefix(part[i].entry, depth, fold);
    SortByPrefix(part, temp, n, counts);
    for (uint32_t i = 0; i < n;) {
        uint32_t j = i + 1;
        while (j < n && part[j].prefix == part[i].prefix) ++j;
        if (j - i > 1 && (part[i].prefix & 0xFFFF)) SortTexts(part + i, j - i, depth + 4, level + 1, fold, temp, counts, byEntry);
        i = j;
    }
}

}  // namespace

void MapIndex::SortPending() {
    auto compare = [this](const MapEntry* a, const MapEntry* b) { return Compare(a, b) < 0; };
    uint32_t n = m_pendingCount;
    auto* items = n >= 64 ? static_cast<SortItem*>(malloc(static_cast<size_t>(n) * sizeof(SortItem))) : nullptr;
    if (!items) {
        std::sort(m_pending, m_pending + n, compare);
        return;
    }
    // Best effort: without these the sort compares instead of counting.
    auto* temp = n >= kRadixMin ? static_cast<SortItem*>(malloc(static_cast<size_t>(n) * sizeof(SortItem))) : nullptr;
    auto* counts = temp ? static_cast<uint32_t*>(malloc(65536 * sizeof(uint32_t))) : nullptr;
    // Regions first: the kinds' order is the regions' order.
    uint32_t firstOf[4] = {0, 0, 0, n};
    uint32_t k = 0;
    for (int kind = 0; kind < 3; ++kind) {
        firstOf[kind] = k;
        for (uint32_t i = 0; i < n; ++i)
            if (static_cast<int>(m_pending[i]->kind) == kind) items[k++].entry = m_pending[i];
    }
    const uint64_t sign = 1ull << 63;
    for (uint32_t i = firstOf[0]; i < firstOf[1]; ++i) items[i].prefix = static_cast<uint64_t>(items[i].entry->keyInt) ^ sign;
    for (uint32_t i = firstOf[1]; i < firstOf[2]; ++i)
        items[i].prefix = static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<intptr_t>(items[i].entry->keyObject))) ^ sign;
    SortByPrefix(items + firstOf[0], temp, firstOf[1] - firstOf[0], counts);
    SortByPrefix(items + firstOf[1], temp, firstOf[2] - firstOf[1], counts);
    auto byEntry = [this](const SortItem& a, const SortItem& b) { return Compare(a.entry, b.entry) < 0; };
    SortTexts(items + firstOf[2], n - firstOf[2], 0, 0, m_order == MapTextOrder::FoldAZ, temp, counts, byEntry);
    for (uint32_t i = 0; i < n; ++i) m_pending[i] = items[i].entry;
    free(counts);
    free(temp);
    free(items);
}

void MapIndex::Flush() {
    Purge();
    if (!m_pendingCount) return;
    Invalidate();
    uint32_t pending = m_pendingCount;
    SortPending();
    for (uint32_t i = 0; i < pending; ++i) m_pending[i]->pendingAt = MapEntry::kNotPending;
    m_pendingCount = 0;
    uint32_t tree = SizeOf(m_root);
    // Many new keys: merge them with the tree's sequence and build it again, linear after the sort.
    if (pending >= tree / 8) {
        uint64_t total = static_cast<uint64_t>(tree) + pending;
        auto* all = static_cast<MapEntry**>(malloc(static_cast<size_t>(total) * sizeof(MapEntry*)));
        if (all) {
            if (m_root) Flatten(m_root, all + pending);
            // Merging forward in place is safe: the write position never passes the next tree item read.
            uint32_t i = pending, j = 0, k = 0;
            while (j < pending) {
                if (i < total && Compare(all[i], m_pending[j]) < 0) all[k++] = all[i++];
                else all[k++] = m_pending[j++];
            }
            m_root = Build(all, static_cast<uint32_t>(total), nullptr);
            m_treeHigh = static_cast<uint32_t>(total);
            m_sequence = all;  // enumeration reads it until the tree changes
            return;
        }
    }
    for (uint32_t i = 0; i < pending; ++i) TreeInsert(m_pending[i]);
}

void MapIndex::TreeInsert(MapEntry* e) {
    Invalidate();
    e->left = e->right = nullptr;
    e->size = 1;
    if (!m_root) {
        e->parent = nullptr;
        m_root = e;
    } else {
        MapEntry* x = m_root;
        for (;;) {
            ++x->size;
            MapEntry*& next = Compare(e, x) < 0 ? x->left : x->right;
            if (!next) {
                next = e;
                break;
            }
            x = next;
        }
        e->parent = x;
    }
    if (m_root->size > m_treeHigh) m_treeHigh = m_root->size;
    Rebalance(e);
}

void MapIndex::Rebalance(MapEntry* from) {
    MapEntry* top = nullptr;
    for (MapEntry* x = from; x; x = x->parent)
        if (Leans(x)) top = x;
    if (top) RebuildSubtree(top);
}

void MapIndex::Replace(MapEntry* old, MapEntry* with) {
    MapEntry* p = old->parent;
    if (!p) m_root = with;
    else if (p->left == old) p->left = with;
    else p->right = with;
    if (with) with->parent = p;
}

void MapIndex::TreeUnlink(MapEntry* e) {
    Invalidate();
    if (!e->left || !e->right) {
        Replace(e, e->left ? e->left : e->right);
        for (MapEntry* x = e->parent; x; x = x->parent) --x->size;
    } else {
        MapEntry* s = Leftmost(e->right);
        Replace(s, s->right);
        for (MapEntry* x = s->parent; x; x = x->parent) --x->size;
        s->left = e->left;
        s->right = e->right;
        s->size = e->size;
        if (s->left) s->left->parent = s;
        if (s->right) s->right->parent = s;
        Replace(e, s);
    }
    e->left = e->right = e->parent = nullptr;
    e->size = 0;
    // Paths only shorten when entries leave, but no longer in proportion to the size: rebuild once the tree
    // has lost half of what it held.
    if (!m_root) m_treeHigh = 0;
    else if (m_root->size * 2 < m_treeHigh && RebuildSubtree(m_root)) m_treeHigh = m_root->size;
}

uint32_t MapIndex::Flatten(MapEntry* top, MapEntry** out) {
    uint32_t n = top->size;
    MapEntry* x = Leftmost(top);
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = x;
        x = Successor(x);
    }
    return n;
}

MapEntry* MapIndex::Build(MapEntry** entries, uint32_t count, MapEntry* parent) {
    if (!count) return nullptr;
    uint32_t mid = count / 2;
    MapEntry* e = entries[mid];
    e->parent = parent;
    e->size = count;
    e->left = Build(entries, mid, e);
    e->right = Build(entries + mid + 1, count - mid - 1, e);
    return e;
}

MapEntry* MapIndex::RebuildSubtree(MapEntry* top) {
    // Without memory for the sequence the tree stays as it is: slower paths, the same contents.
    uint32_t n = top->size;
    auto* all = static_cast<MapEntry**>(malloc(static_cast<size_t>(n) * sizeof(MapEntry*)));
    if (!all) return nullptr;
    Invalidate();
    MapEntry* parent = top->parent;
    bool wasLeft = parent && parent->left == top;
    Flatten(top, all);
    MapEntry* fresh = Build(all, n, parent);
    free(all);
    if (!parent) m_root = fresh;
    else if (wasLeft) parent->left = fresh;
    else parent->right = fresh;
    return fresh;
}

MapEntry* MapIndex::At(uint32_t position) {
    Flush();
    if (position >= SizeOf(m_root)) return nullptr;
    if (m_sequence) {
        // Entries lie in memory in the order they were added, not in this order: fetch ahead.
        if (position + 8 < m_root->size) __builtin_prefetch(m_sequence[position + 8]);
        return m_sequence[position];
    }
    if (m_cursor && position == m_cursorAt) return m_cursor;
    if (m_cursor && position == m_cursorAt + 1) {
        m_cursor = Successor(m_cursor);
        m_cursorAt = position;
        return m_cursor;
    }
    MapEntry* x = m_root;
    uint32_t i = position;
    for (;;) {
        uint32_t left = SizeOf(x->left);
        if (i < left) x = x->left;
        else if (i == left) break;
        else {
            i -= left + 1;
            x = x->right;
        }
    }
    m_cursor = x;
    m_cursorAt = position;
    return x;
}

MapEntry* MapIndex::Last() {
    Flush();
    MapEntry* x = m_root;
    if (!x) return nullptr;
    while (x->right) x = x->right;
    return x;
}

bool MapIndex::AddSorted(MapEntry** entries, uint32_t count) {
    if (!count) return true;
    uint32_t slots = SlotsFor(count);
    if (!slots || (slots > m_slotCount && !RehashTo(slots))) return false;
    for (uint32_t i = 0; i < count; ++i) {
        entries[i]->pendingAt = MapEntry::kNotPending;
        if (Hashed(entries[i]->kind)) HashInsert(entries[i]);
    }
    m_root = Build(entries, count, nullptr);
    m_treeHigh = count;
    m_count = count;
    Invalidate();
    return true;
}

}  // namespace brm
