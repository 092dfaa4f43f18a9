// 64-bit arithmetic over pairs of signed 32-bit halves and doubles.
#include <cmath>
#include <limits>

#include "Classes.h"
#include "ComObject.h"

namespace typhex {
namespace {

std::int64_t Join(LONG low, LONG high) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
                                     static_cast<std::uint32_t>(low));
}

void Split(std::int64_t value, LONG* low, LONG* high) {
    auto bits = static_cast<std::uint64_t>(value);
    *low = static_cast<LONG>(static_cast<std::uint32_t>(bits));
    *high = static_cast<LONG>(static_cast<std::uint32_t>(bits >> 32));
}

// Toward zero; values beyond the 64-bit range (or not a number) have no
// meaning for media sizes and are clamped rather than left undefined.
std::int64_t Truncated(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

std::int64_t WrappingSubtract(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}

class ExtraLong final : public DispatchObject<IExtraLong, IID_IExtraLong> {
public:
    HRESULT STDMETHODCALLTYPE LongXInt(LONG mult1, SHORT mult2, LONG* resultLO, LONG* resultHI) override {
        if (!resultLO || !resultHI) return E_POINTER;
        Split(std::int64_t{mult1} * mult2, resultLO, resultHI);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddLongToInt64(LONG LongToAdd, LONG* Int64LO, LONG* Int64HI, LONG* resultLO,
                                             LONG* resultHI) override {
        if (!Int64LO || !Int64HI || !resultLO || !resultHI) return E_POINTER;
        const auto sum = static_cast<std::uint64_t>(Join(*Int64LO, *Int64HI)) +
                         static_cast<std::uint64_t>(std::int64_t{LongToAdd});
        Split(static_cast<std::int64_t>(sum), resultLO, resultHI);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SubInt64FromDouble(double DblVal, LONG* Int64LO, LONG* Int64HI,
                                                 LONG* result) override {
        if (!Int64LO || !Int64HI || !result) return E_POINTER;
        const std::int64_t difference = WrappingSubtract(Truncated(DblVal), Join(*Int64LO, *Int64HI));
        *result = static_cast<LONG>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(difference)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CompareDiff(double DblVal, LONG* Int64LO, LONG* Int64HI, LONG compareTo,
                                          LONG* result) override {
        if (!Int64LO || !Int64HI || !result) return E_POINTER;
        const std::int64_t difference = WrappingSubtract(Truncated(DblVal), Join(*Int64LO, *Int64HI));
        *result = difference > compareTo ? 1 : difference < compareTo ? -1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Int64ToDouble(LONG* Int64LO, LONG* Int64HI, double* result) override {
        if (!Int64LO || !Int64HI || !result) return E_POINTER;
        *result = static_cast<double>(static_cast<std::uint64_t>(Join(*Int64LO, *Int64HI)));
        return S_OK;
    }
};

} // namespace

HRESULT CreateExtraLong(REFIID riid, void** object) { return CreateObject<ExtraLong>(riid, object); }

} // namespace typhex
