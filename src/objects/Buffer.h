// Buffer: a script object owning one block of memory from the C heap, and the Buffer-like rule by which
// natives take memory from any object that has Ptr and Size.
#pragma once
#include <cstddef>
#include <cstdint>
#include "objects/Object.h"

namespace brm {

class BufferObject final : public Object {
public:
    // An empty Buffer (Ptr 0, Size 0) whose base is Buffer.Prototype. Null when out of memory.
    static BufferObject* Create();
    // A Buffer that adopts a block from malloc (freed with the object, or at once when null is returned).
    static BufferObject* Adopt(void* data, uint32_t size);

    void* Data() const { return m_data; }
    uint32_t Size() const { return m_size; }
    // Existing bytes stay up to the smaller size; 0 frees the block. False (nothing changed) when out of memory.
    bool Resize(uint32_t size);

    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount);

private:
    BufferObject();
    ~BufferObject() override;

    void* m_data = nullptr;
    uint32_t m_size = 0;
};

// Registers the class with its members; start-up calls it before CreateBuiltInClasses.
void RegisterBufferClass();

// The memory of a Buffer-like object: a Buffer's own block, else the object's Ptr and then Size properties
// read through the invoke protocol. A failed read fails with the error it raised.
Status GetBufferPtrSize(IObject* object, void*& data, size_t& size);

}  // namespace brm
