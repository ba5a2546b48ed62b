// The numeric built-ins (Abs, Ceil, Floor, Round, Mod, Max, Min, Sqrt, Log, Ln, Exp, trigonometry) and
// Random on the system's random source. Arguments are read either as doubles (numeric text and numbers,
// hexadecimal text allowed) or as number tokens that keep their kind.
#include "lib/MathFunctions.h"
#include <windows.h>

#include <cmath>
#include <cstdlib>
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "lib/NumberFormat.h"
#include "objects/BuiltInFunctions.h"

namespace brm {

namespace {

int Identity(const CallResult& result) { return static_cast<const BuiltInFunc*>(result.func)->def->identity; }

inline bool Given(ValueToken** params, int count, int i) { return i < count && TokenKind(*params[i]) != SymMissing; }

Status ParamDouble(ValueToken** params, int i, double& value) {
    if (TokenIsNumeric(*params[i]) == NumericKind::None)
        return RaiseParamTypeError(i, L"Number", *params[i]);
    value = TokenToDouble(*params[i], HexCheck::Yes);
    return Status::Ok;
}

Status ParamNumber(ValueToken** params, int i, ValueToken& number) {
    if (!TokenToNumber(*params[i], number))
        return RaiseParamTypeError(i, L"Number", *params[i]);
    return Status::Ok;
}

inline double AsDouble(const ValueToken& number) {
    return number.symbol == SymInteger ? static_cast<double>(number.valueInt64) : number.valueDouble;
}

// A whole double as an integer result. The 0.2 nudge keeps a value such as 2.9999999999999996 from a
// floor or ceil that the processor rounded from landing one below after truncation.
int64_t WholeToInt64(double d) { return FloatToInt64(d > 0 ? d + 0.2 : d - 0.2); }

Status FloatResult(CallResult& result, double d) {
    result.value.SetFloat(d);
    return Status::Ok;
}

}  // namespace

Status BifAbs(CallResult& result, ValueToken** params, int) {
    ValueToken n;
    BRM_TRY(ParamNumber(params, 0, n));
    if (n.symbol == SymInteger)  // the most negative integer wraps to itself
        result.value.SetInteger(n.valueInt64 < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(n.valueInt64))
                                                 : n.valueInt64);
    else
        result.value.SetFloat(std::fabs(n.valueDouble));
    return Status::Ok;
}

Status BifFloorCeil(CallResult& result, ValueToken** params, int) {
    // An integer is its own floor and ceiling; taking it through a double would lose digits above 2^53.
    ValueToken n;
    if (TokenIsNumeric(*params[0]) == NumericKind::Integer && TokenToNumber(*params[0], n) && n.symbol == SymInteger) {
        result.value.SetInteger(n.valueInt64);
        return Status::Ok;
    }
    double d = 0;
    BRM_TRY(ParamDouble(params, 0, d));
    result.value.SetInteger(WholeToInt64(Identity(result) ? std::ceil(d) : std::floor(d)));
    return Status::Ok;
}

Status BifRound(CallResult& result, ValueToken** params, int count) {
    double x = 0;
    BRM_TRY(ParamDouble(params, 0, x));
    int32_t places = 0;
    if (Given(params, count, 1)) {
        if (TokenIsNumeric(*params[1]) == NumericKind::None)
            return RaiseParamTypeError(1, L"Number", *params[1]);
        places = static_cast<int32_t>(TokenToInt64(*params[1]));
    }
    ValueToken n;
    if (!places && TokenIsNumeric(*params[0]) == NumericKind::Integer && TokenToNumber(*params[0], n) &&
        n.symbol == SymInteger) {
        result.value.SetInteger(n.valueInt64);
        return Status::Ok;
    }
    double scale = places ? std::pow(10.0, static_cast<double>(places)) : 1.0;
    double h = x * scale;
    double rounded;
    if (!std::isfinite(h) && std::isfinite(x))
        rounded = x;  // more decimals than a double holds: nothing to round
    else if (scale == 0.0)
        rounded = 0.0;  // rounding to a power of ten far above any double
    else
        rounded = (x >= 0 ? std::floor(h + 0.5) : std::ceil(h - 0.5)) / scale;
    if (places <= 0) {
        result.value.SetInteger(WholeToInt64(rounded));
        return Status::Ok;
    }
    TextSink measure(result.buffer, kScratchChars - 1);
    WriteFixed(measure, rounded, places);
    uint64_t length = measure.Length();
    Char* text = result.buffer;
    if (!measure.Fits()) {
        text = length < 0x3FFFFFFF ? static_cast<Char*>(malloc((static_cast<size_t>(length) + 1) * sizeof(Char)))
                                   : nullptr;
        if (!text)
            return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        TextSink out(text, static_cast<size_t>(length));
        WriteFixed(out, rounded, places);
        result.memToFree = text;
    }
    text[length] = 0;
    result.value.SetString(text, static_cast<int32_t>(length));
    return Status::Ok;
}

Status BifMod(CallResult& result, ValueToken** params, int) {
    ValueToken a, b;
    if (!TokenToNumber(*params[0], a) || !TokenToNumber(*params[1], b))
        return RaiseMsg(ErrorClass::TypeError, Msg::InvalidParams);
    if (a.symbol == SymInteger && b.symbol == SymInteger) {
        if (b.valueInt64 == 0)
            return RaiseMsg(ErrorClass::ZeroDivisionError, Msg::DivideByZero);
        // INT64_MIN % -1 traps on x86; the remainder of any division by -1 is 0.
        result.value.SetInteger(b.valueInt64 == -1 ? 0 : a.valueInt64 % b.valueInt64);
        return Status::Ok;
    }
    double y = AsDouble(b);
    if (y == 0.0)
        return RaiseMsg(ErrorClass::ZeroDivisionError, Msg::DivideByZero);
    return FloatResult(result, std::fmod(AsDouble(a), y));
}

Status BifMinMax(CallResult& result, ValueToken** params, int count) {
    bool max = Identity(result) == 1;
    int bestInt = -1, bestFloat = -1;
    int64_t intValue = 0;
    double floatValue = 0;
    for (int i = 0; i < count; ++i) {
        ValueToken n;
        BRM_TRY(ParamNumber(params, i, n));
        if (n.symbol == SymInteger) {
            if (bestInt < 0 || (max ? n.valueInt64 > intValue : n.valueInt64 < intValue)) {
                bestInt = i;
                intValue = n.valueInt64;
            }
        } else if (bestFloat < 0 || (max ? n.valueDouble > floatValue : n.valueDouble < floatValue)) {
            bestFloat = i;
            floatValue = n.valueDouble;
        }
    }
    int winner = bestInt;
    if (bestFloat >= 0) {
        double asDouble = static_cast<double>(intValue);
        if (bestInt < 0 || !(max ? asDouble > floatValue : asDouble < floatValue))
            winner = bestFloat;
    }
    ValueToken n;
    (void)TokenToNumber(*params[winner], n);
    result.value = n;
    return Status::Ok;
}

Status BifSqrtLog(CallResult& result, ValueToken** params, int) {
    double d = 0;
    BRM_TRY(ParamDouble(params, 0, d));
    if (d < 0)
        return RaiseParamError(0, *params[0]);
    switch (Identity(result)) {
    case 0: return FloatResult(result, std::sqrt(d));
    case 1: return FloatResult(result, std::log10(d));
    default: return FloatResult(result, std::log(d));
    }
}

Status BifASinACos(CallResult& result, ValueToken** params, int) {
    double d = 0;
    BRM_TRY(ParamDouble(params, 0, d));
    if (d > 1 || d < -1)
        return RaiseParamError(0, *params[0]);
    return FloatResult(result, Identity(result) ? std::acos(d) : std::asin(d));
}

#define BRM_UNARY_FLOAT(Name, fn)                                  \
    Status Name(CallResult& result, ValueToken** params, int) {    \
        double d = 0;                                                  \
        BRM_TRY(ParamDouble(params, 0, d));                        \
        return FloatResult(result, fn(d));                         \
    }
BRM_UNARY_FLOAT(BifExp, std::exp)
BRM_UNARY_FLOAT(BifSin, std::sin)
BRM_UNARY_FLOAT(BifCos, std::cos)
BRM_UNARY_FLOAT(BifTan, std::tan)
BRM_UNARY_FLOAT(BifATan, std::atan)
#undef BRM_UNARY_FLOAT

bool SystemRandom(void* buffer, unsigned long size) {
    using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static GenRandom s_genRandom = [] {
        HMODULE advapi = LoadLibraryW(L"advapi32.dll");  // stays loaded for the process: never freed
        return advapi ? reinterpret_cast<GenRandom>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
                      : nullptr;
    }();
    return s_genRandom && s_genRandom(buffer, size);
}

Status BifRandom(CallResult& result, ValueToken** params, int count) {
    bool givenA = Given(params, count, 0), givenB = Given(params, count, 1);
    bool floatRange = !givenA && !givenB;
    double a = 0, b = floatRange ? 1.0 : 0;
    int64_t ia = 0, ib = 0;
    for (int i = 0; i < 2; ++i) {
        if (!(i ? givenB : givenA))
            continue;
        NumericKind kind = TokenIsNumeric(*params[i]);
        if (kind == NumericKind::None)
            return RaiseParamTypeError(i, L"Number", *params[i]);
        if (kind == NumericKind::Float)
            floatRange = true;
        (i ? b : a) = TokenToDouble(*params[i], HexCheck::Yes);
        (i ? ib : ia) = TokenToInt64(*params[i]);
    }
    uint64_t draw;
    if (!SystemRandom(&draw, sizeof draw))
        return RaiseMsg(ErrorClass::Error, Msg::InternalCallFailed);
    if (!floatRange) {
        int64_t low = ia < ib ? ia : ib, high = ia < ib ? ib : ia;
        uint64_t range = static_cast<uint64_t>(high) - static_cast<uint64_t>(low) + 1;
        if (range) {
            // Draws below 2^64 mod range would make the low results more likely; drawing again removes that.
            uint64_t reject = (0 - range) % range;
            while (draw < reject)
                if (!SystemRandom(&draw, sizeof draw))
                    return RaiseMsg(ErrorClass::Error, Msg::InternalCallFailed);
            draw %= range;
        }
        result.value.SetInteger(static_cast<int64_t>(static_cast<uint64_t>(low) + draw));
        return Status::Ok;
    }
    if (a > b) {
        double t = a;
        a = b;
        b = t;
    }
    double unit = static_cast<double>(draw >> 11) * 0x1p-53;  // [0, 1)
    double value = a + unit * (b - a);
    if (value >= b && b > a)  // rounding can reach the bound, which is never returned
        value = std::nextafter(b, a);
    return FloatResult(result, value);
}

}  // namespace brm
