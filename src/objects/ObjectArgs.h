// Argument arrays built to call getters, setters, methods and meta-functions: `this`, an optional value,
// then the caller's arguments. Small arrays live in automatic storage; only long argument lists use the heap.
#pragma once
#include <cstdlib>
#include <cstring>
#include "expr/ValueToken.h"

namespace brm {

class Object;

class ArgsWithThis {
public:
    // extra (may be null) goes right after `this`: a setter's value, or a meta-function's name.
    ArgsWithThis(ValueToken& self, ValueToken* extra, ValueToken** params, int paramCount,
                 ValueToken* extra2 = nullptr, ValueToken* last = nullptr) {
        int n = 1 + (extra ? 1 : 0) + (extra2 ? 1 : 0) + paramCount + (last ? 1 : 0);
        m_args = n <= kInline ? m_inline : static_cast<ValueToken**>(malloc(sizeof(ValueToken*) * n));
        if (!m_args)
            return;
        int i = 0;
        m_args[i++] = &self;
        if (extra)
            m_args[i++] = extra;
        if (extra2)
            m_args[i++] = extra2;
        for (int k = 0; k < paramCount; ++k)  // few: a loop beats a library call
            m_args[i++] = params[k];
        if (last)
            m_args[i++] = last;
        m_count = i;
    }
    ~ArgsWithThis() {
        if (m_args != m_inline)
            free(m_args);
    }
    ArgsWithThis(const ArgsWithThis&) = delete;
    ArgsWithThis& operator=(const ArgsWithThis&) = delete;

    bool Ok() const { return m_args != nullptr; }
    ValueToken** Array() { return m_args; }
    int Count() const { return m_count; }

private:
    // Up to 1024 bytes of pointers on the machine stack.
    static constexpr int kInline = 1024 / sizeof(ValueToken*);
    ValueToken* m_inline[kInline];
    ValueToken** m_args;
    int m_count = 0;
};

// Recomputes the cached accessor flags of the own dynamic property `name` from its functions' MinParams,
// MaxParams and IsVariadic. Fail or EarlyExit while reading them is returned.
Status RefreshAccessorShape(Object* object, const Char* name);

}  // namespace brm
