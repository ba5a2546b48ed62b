// Callback lists: the functions OnExit and OnError register, called in list order by the exit sequence
// and by the handling of an unhandled error.
#pragma once
#include <vector>
#include "objects/IObject.h"

namespace brm {

class CallbackList {
public:
    bool Empty() const { return m_entries.empty(); }
    bool Contains(IObject* f) const;
    void AddLast(IObject* f);   // adds a reference; nothing changes when f is already listed
    void AddFirst(IObject* f);
    void Remove(IObject* f);
    // Calls each entry with the arguments until one returns a non-zero integer (stored in *answer) or
    // fails. Returns true when an entry answered or failed; *failed tells which.
    // `beforeNext` runs before each call after the first.
    bool CallInOrder(ValueToken** params, int count, int64_t* answer, bool* failed, void (*beforeNext)());

private:
    std::vector<Ref<IObject>> m_entries;
};

extern CallbackList g_onExit;
extern CallbackList g_onError;
extern bool g_onErrorRunning;  // OnError callbacks never run recursively

}  // namespace brm
