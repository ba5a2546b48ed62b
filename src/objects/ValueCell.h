// ValueCell: one stored value of a collection (an array element, a map value): a 64-bit payload and a kind.
// A String owns its block; an Object holds one counted reference; Missing is an element without a value.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "objects/Object.h"

namespace brm {

struct ValueCell {
    union {
        int64_t valueInt64;
        double valueDouble;
        IObject* object;      // counted
        StringBlock* string;  // owned (malloc'd, never the shared empty block)
    };
    PropKind kind;

    bool IsMissing() const { return kind == PropKind::Missing; }
    void SetMissing() {
        kind = PropKind::Missing;
        valueInt64 = 0;
    }

    // Fills an empty (Missing or fresh) cell with a copy of the value; a Variable is read, an unset one or a
    // Missing token gives Missing. False: out of memory (the cell stays Missing).
    bool Store(const ValueToken& in) {
        ValueToken value;
        if (in.symbol == SymVariable) {
            if (in.var->IsUnset()) {
                SetMissing();
                return true;
            }
            in.var->ToToken(value);
        } else {
            value = in;
        }
        switch (value.symbol) {
        case SymInteger: kind = PropKind::Integer; valueInt64 = value.valueInt64; return true;
        case SymFloat: kind = PropKind::Float; valueDouble = value.valueDouble; return true;
        case SymMissing: SetMissing(); return true;
        case SymObject:
            value.object->AddRef();
            kind = PropKind::Object;
            object = value.object;
            return true;
        default: {
            Char scratch[kScratchChars];
            int32_t length = 0;
            const Char* text = TokenToString(value, scratch, &length);
            if (length < 0) length = static_cast<int32_t>(wcslen(text));
            return StoreText(text, static_cast<size_t>(length));
        }
        }
    }

    bool StoreText(const Char* text, size_t length) {
        StringBlock* block = AllocStringBlock(text, length);
        if (!block) {
            SetMissing();
            return false;
        }
        kind = PropKind::String;
        string = block;
        return true;
    }

    // A copy of another cell into this empty one. False: out of memory.
    bool CopyFrom(const ValueCell& other) {
        if (other.kind == PropKind::String) return StoreText(other.string->text, other.string->length);
        *this = other;
        if (kind == PropKind::Object) object->AddRef();
        return true;
    }

    // A borrowed token of the value (Missing gives Missing).
    void ToToken(ValueToken& token) const {
        switch (kind) {
        case PropKind::String: token.SetString(string->text, static_cast<int32_t>(string->length)); break;
        case PropKind::Integer: token.SetInteger(valueInt64); break;
        case PropKind::Float: token.SetFloat(valueDouble); break;
        case PropKind::Object: token.SetObject(object); break;
        default: token.SetMissing(); break;
        }
    }

    // Releases what the cell owns. The caller makes the cell Missing (or drops it) first when a release
    // could run script code that looks at the collection: use the Detach/Drop pattern below.
    void Drop() {
        if (kind == PropKind::String) FreeStringBlock(string);
        else if (kind == PropKind::Object) object->Release();
        SetMissing();
    }
};

// Moves a value out of a cell (leaving it Missing), so that the collection is consistent before the old
// value is released (a __Delete may look at the collection).
inline ValueCell DetachCell(ValueCell& cell) {
    ValueCell old = cell;
    cell.SetMissing();
    return old;
}

// Gives a result the cell's value, moving ownership into it (text goes to memToFree). Missing gives "".
inline void MoveCellToResult(ValueCell cell, CallResult& result) {
    switch (cell.kind) {
    case PropKind::String: {
        // The block's text is terminated; the result frees the whole block through memToFree, so the text
        // is moved to the start of the allocation.
        size_t length = cell.string->length;
        Char* text = reinterpret_cast<Char*>(cell.string);
        memmove(text, cell.string->text, (length + 1) * sizeof(Char));
        result.memToFree = text;
        result.value.SetString(text, static_cast<int32_t>(length));
        break;
    }
    case PropKind::Integer: result.value.SetInteger(cell.valueInt64); break;
    case PropKind::Float: result.value.SetFloat(cell.valueDouble); break;
    case PropKind::Object: result.value.SetObject(cell.object); break;  // the reference moves
    default: result.value.SetString(L"", 0); break;
    }
}

// Copies the cell's value into a result. False: out of memory.
inline bool CopyCellToResult(const ValueCell& cell, CallResult& result) {
    switch (cell.kind) {
    case PropKind::String: {
        size_t length = cell.string->length;
        Char* target = result.buffer;
        if (length >= static_cast<size_t>(kScratchChars)) {
            target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
            if (!target) return false;
            result.memToFree = target;
        }
        wmemcpy(target, cell.string->text, length + 1);
        result.value.SetString(target, static_cast<int32_t>(length));
        return true;
    }
    case PropKind::Object:
        cell.object->AddRef();
        result.value.SetObject(cell.object);
        return true;
    default:
        cell.ToToken(result.value);
        if (cell.kind == PropKind::Missing) result.value.SetString(L"", 0);
        return true;
    }
}

}  // namespace brm
