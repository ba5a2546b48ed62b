// ValueToken, CallResult and the status codes: the value cell every subsystem shares.
// A ValueToken is also an operator token inside a compiled expression (symbols 9..72).
#pragma once
#include <cstdint>

namespace brm {

using Char = wchar_t;  // all script text is UTF-16
struct IObject;
struct Var;

// Status of a line, a call or a loop. A CallResult only ever holds Fail, Ok or EarlyExit.
enum class [[nodiscard]] Status : int32_t {
    Fail = 0,
    Ok = 1,
    NoIteration = 4,
    NotHandled = 4,  // InvokeMember: no such member; never leaves the invoke path, so the value is shared
    Break = 5,
    Continue = 6,
    Return = 7,
    EarlyExit = 8,
};

// Propagates any status other than Ok to the caller.
#define BRM_TRY(expr)                                          \
    do {                                                       \
        ::brm::Status brmTryStatus_ = (expr);                  \
        if (brmTryStatus_ != ::brm::Status::Ok)                \
            return brmTryStatus_;                              \
    } while (0)

// Operand kinds; operator symbols (9..72) are declared with the postfix compiler.
enum Symbol : uint32_t {
    SymString = 0,
    SymInteger = 1,
    SymFloat = 2,
    SymMissing = 3,
    SymVariable = 4,
    SymObject = 5,
    SymDynamic = 6,
    SymSuper = 7,
    SymStackBottom = 8,
    SymFirstOperator = 9,
    SymEnd = 73,
};

// Usage word of a Variable token.
enum VarUsage : uint32_t {
    VarUsageRead = 0,
    VarUsageMaybeUnset = 2,  // `name?`, or the left side of ??
    VarUsageLValue = 1,      // assignment target, &ref, output variable
    VarUsageOutputOnly = 5,  // a statement's single plain output variable
};

struct ValueToken {
    union {
        int64_t valueInt64;
        double valueDouble;
        struct {
            union {
                const Char* marker;  // String text
                IObject* object;
                Var* var;
                void* pointer;
            };
            union {
                int32_t markerLength;  // characters; -1: scan to the NUL
                uint32_t varUsage;
                uint32_t secondWord;
            };
        };
    };
    uint32_t symbol;
    union {
        uint32_t extra;
        void* extraPtr;  // call-site record or jump target in a compiled expression
    };

    ValueToken() = default;
    // Copied word by word: a token is mostly written field by field just before it is copied, and one
    // wide load over several narrower stores cannot take its data from them, which stalls every copy.
    ValueToken(const ValueToken& other) noexcept { CopyWords(other); }
    ValueToken& operator=(const ValueToken& other) noexcept {
        CopyWords(other);
        return *this;
    }

    void SetString(const Char* text, int32_t length = -1) { marker = text; markerLength = length; symbol = SymString; }
    void SetInteger(int64_t v) { valueInt64 = v; symbol = SymInteger; }
    void SetFloat(double v) { valueDouble = v; symbol = SymFloat; }
    void SetMissing() { valueInt64 = 0; symbol = SymMissing; }
    void SetVar(Var* v, uint32_t usage = VarUsageRead) { var = v; varUsage = usage; symbol = SymVariable; }
    void SetObject(IObject* o) { object = o; secondWord = 0; symbol = SymObject; }  // borrows; owner adds refs

private:
    void CopyWords(const ValueToken& other) {
        constexpr size_t kWords = sizeof(ValueToken) / sizeof(uintptr_t);
        uintptr_t w[kWords];
        __builtin_memcpy(w, &other, sizeof w);
        // Keeps the words apart, so that they are not merged back into one vector copy.
        for (size_t i = 0; i < kWords; ++i) asm("" : "+r"(w[i]));
        __builtin_memcpy(static_cast<void*>(this), w, sizeof w);
    }
};
static_assert(sizeof(void*) != 4 || sizeof(ValueToken) == 16, "on 32-bit targets a ValueToken is four 32-bit words");

constexpr int kScratchChars = 256;  // callees may format short results into the caller's scratch buffer

// The slot a function writes its result into; initialised by the caller.
// Ownership: the CallResult owns memToFree and, when value is an Object, one reference to it. A callee that
// returns an object adds that reference (value.SetObject only borrows); the destructor frees memToFree
// and releases the object. A caller that keeps either takes it over by clearing memToFree or resetting
// value (for example value.SetString(L"", 0)) before the CallResult ends.
struct CallResult {
    ValueToken value;
    Char* buffer;         // caller's scratch, at least kScratchChars
    Char* memToFree;      // heap text owned by the caller once set (freed with free())
    IObject* func;        // the function being called
    Status result;

    explicit CallResult(Char* scratch) : buffer(scratch), memToFree(nullptr), func(nullptr), result(Status::Ok) {
        value.SetString(L"", -1);
        value.extra = 0;
    }
    CallResult(const CallResult&) = delete;
    CallResult& operator=(const CallResult&) = delete;
    ~CallResult() {  // frees memToFree and any owned object
        if (memToFree || value.symbol == SymObject)
            Release();
    }

private:
    void Release();
};

}  // namespace brm
