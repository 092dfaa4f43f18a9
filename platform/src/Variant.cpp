#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/oleauto.h"
#include "platform/src/VarTypeSize.h"

void VariantInit(VARIANT* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

namespace {

bool IsScalar(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_INT: return true;
    default: return false;
    }
}

bool IsKnownBase(VARTYPE vt) {
    return IsScalar(vt) || vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_VARIANT;
}

bool IsValid(VARTYPE vt) {
    VARTYPE base = vt & VT_TYPEMASK;
    if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) return false;
    if (!IsKnownBase(base)) return false;
    // A Variant holds another Variant only by reference or in an array.
    if (base == VT_VARIANT && !(vt & (VT_BYREF | VT_ARRAY))) return false;
    if ((vt & VT_ARRAY) && (base == VT_EMPTY || base == VT_NULL)) return false;
    return true;
}

} // namespace

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (!IsValid(v->vt)) return DISP_E_BADVARTYPE;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(v->parray);
            if (FAILED(hr)) return hr; // a locked array stays where it is
        } else if (v->vt == VT_BSTR) {
            SysFreeString(v->bstrVal);
        } else if (v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) {
            if (v->punkVal) v->punkVal->Release();
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
    if (!dest || !source) return E_INVALIDARG;
    if (dest == source) return S_OK;
    if (!IsValid(source->vt)) return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) return hr;
    VARIANT result = *source;
    if (!(source->vt & VT_BYREF)) {
        if (source->vt & VT_ARRAY) {
            hr = SafeArrayCopy(source->parray, &result.parray);
            if (FAILED(hr)) return hr;
        } else if (source->vt == VT_BSTR) {
            if (source->bstrVal) {
                result.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
                if (!result.bstrVal) return E_OUTOFMEMORY;
            }
        } else if (source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) {
            if (source->punkVal) source->punkVal->AddRef();
        }
    }
    *dest = result;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source) {
    if (!dest || !source) return E_INVALIDARG;
    if (!(source->vt & VT_BYREF)) return VariantCopy(dest, source);
    if (!IsValid(source->vt)) return DISP_E_BADVARTYPE;
    if (!source->byref) return E_INVALIDARG;
    VARTYPE base = source->vt & VT_TYPEMASK;
    if (base == VT_VARIANT && !(source->vt & VT_ARRAY)) {
        if (source->pvarVal->vt & VT_BYREF) return E_INVALIDARG; // one level only, as Automation allows
        if (source->pvarVal == dest) return S_OK;
        return VariantCopy(dest, source->pvarVal);
    }
    // The value pointed at, as a Variant that does not own it.
    VARIANT direct;
    VariantInit(&direct);
    direct.vt = static_cast<VARTYPE>(source->vt & ~VT_BYREF);
    if (source->vt & VT_ARRAY) {
        direct.parray = *source->pparray;
    } else {
        switch (base) {
        case VT_BSTR: direct.bstrVal = *source->pbstrVal; break;
        case VT_DISPATCH:
        case VT_UNKNOWN: direct.punkVal = *source->ppunkVal; break;
        default: std::memcpy(&direct.llVal, source->byref, platform::detail::VarTypeSize(base)); break;
        }
    }
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = VariantCopy(&result, &direct);
    if (FAILED(hr)) return hr;
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}

namespace {

// The value of a scalar, text or Boolean Variant, as the widest kinds.
struct Scalar {
    enum Kind { Integer, Real, Text, Empty } kind = Empty;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
    bool isBool = false;
};

HRESULT ReadScalar(const VARIANT* v, Scalar* out) {
    VARTYPE vt = v->vt;
    bool byRef = (vt & VT_BYREF) != 0;
    VARTYPE base = vt & VT_TYPEMASK;
    if (vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (byRef && !v->byref) return E_INVALIDARG;
    if (byRef && base == VT_VARIANT) return ReadScalar(v->pvarVal, out);
    auto get = [&](auto value, auto* pointer) { return byRef ? *pointer : value; };
    out->kind = Scalar::Integer;
    switch (base) {
    case VT_EMPTY: out->kind = Scalar::Empty; break;
    case VT_I2: out->integer = get(v->iVal, v->piVal); break;
    case VT_I4: out->integer = get(v->lVal, v->plVal); break;
    case VT_INT: out->integer = get(v->intVal, static_cast<INT*>(v->byref)); break;
    case VT_UI1: out->integer = get(v->bVal, v->pbVal); break;
    case VT_UI2: out->integer = get(static_cast<USHORT>(v->iVal), static_cast<USHORT*>(v->byref)); break;
    case VT_UI4: out->integer = get(v->ulVal, static_cast<ULONG*>(v->byref)); break;
    case VT_I8: out->integer = get(v->llVal, static_cast<LONGLONG*>(v->byref)); break;
    case VT_BOOL:
        out->integer = get(v->boolVal, v->pboolVal) ? VARIANT_TRUE : VARIANT_FALSE;
        out->isBool = true;
        break;
    case VT_R8:
        out->kind = Scalar::Real;
        out->real = get(v->dblVal, static_cast<double*>(v->byref));
        break;
    case VT_BSTR:
        out->kind = Scalar::Text;
        out->text = platform::Utf8FromBstr(get(v->bstrVal, v->pbstrVal));
        break;
    default: return DISP_E_TYPEMISMATCH; // VT_NULL, VT_ERROR, interfaces
    }
    return S_OK;
}

bool EqualsIgnoreCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Text to number: an integer, a real, or "True"/"False".
HRESULT ParseText(const std::string& raw, Scalar* out) {
    std::string text = Trim(raw);
    if (EqualsIgnoreCase(text, "true") || EqualsIgnoreCase(text, "false")) {
        out->kind = Scalar::Integer;
        out->integer = EqualsIgnoreCase(text, "true") ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (text.empty()) return DISP_E_TYPEMISMATCH;
    errno = 0;
    char* end = nullptr;
    long long integer = std::strtoll(text.c_str(), &end, 10);
    if (end && *end == '\0') {
        if (errno == ERANGE) return DISP_E_OVERFLOW;
        out->kind = Scalar::Integer;
        out->integer = integer;
        return S_OK;
    }
    errno = 0;
    double real = std::strtod(text.c_str(), &end);
    if (!end || *end != '\0' || std::isnan(real)) return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE && std::isinf(real)) return DISP_E_OVERFLOW;
    out->kind = Scalar::Real;
    out->real = real;
    return S_OK;
}

// Integer from a scalar, rounding reals half to even as Automation does.
HRESULT ToInteger(const Scalar& s, std::int64_t minimum, std::int64_t maximum, std::int64_t* value) {
    Scalar n = s;
    if (n.kind == Scalar::Text) {
        HRESULT hr = ParseText(s.text, &n);
        if (FAILED(hr)) return hr;
    }
    std::int64_t v = 0;
    if (n.kind == Scalar::Real) {
        double r = std::nearbyint(n.real); // default rounding mode: half to even
        if (!(r >= static_cast<double>(minimum) && r <= static_cast<double>(maximum))) return DISP_E_OVERFLOW;
        v = static_cast<std::int64_t>(r);
    } else if (n.kind == Scalar::Integer) {
        v = n.integer;
    }
    if (v < minimum || v > maximum) return DISP_E_OVERFLOW;
    *value = v;
    return S_OK;
}

std::string FormatReal(double r) {
    char text[64];
    // The shortest form that reads back as the same value.
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*G", precision, r);
        if (std::strtod(text, nullptr) == r) break;
    }
    return text;
}

HRESULT ToText(const Scalar& s, USHORT flags, std::string* text) {
    switch (s.kind) {
    case Scalar::Empty: text->clear(); break;
    case Scalar::Text: *text = s.text; break;
    case Scalar::Real: *text = FormatReal(s.real); break;
    case Scalar::Integer:
        if (s.isBool && (flags & VARIANT_ALPHABOOL))
            *text = s.integer ? "True" : "False";
        else
            *text = std::to_string(s.integer);
        break;
    }
    return S_OK;
}

} // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt) {
    if (!dest || !source) return E_INVALIDARG;
    if (!IsValid(source->vt)) return DISP_E_BADVARTYPE;
    if (source->vt == vt) {
        if (dest == source) return S_OK;
        return VariantCopy(dest, source);
    }
    Scalar s;
    HRESULT hr = ReadScalar(source, &s);
    if (FAILED(hr)) return hr;

    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    std::int64_t n = 0;
    switch (vt) {
    case VT_EMPTY: break;
    case VT_I2:
        hr = ToInteger(s, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max(), &n);
        result.iVal = static_cast<SHORT>(n);
        break;
    case VT_I4:
    case VT_INT:
        hr = ToInteger(s, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), &n);
        result.lVal = static_cast<LONG>(n);
        break;
    case VT_UI1:
        hr = ToInteger(s, 0, 255, &n);
        result.bVal = static_cast<BYTE>(n);
        break;
    case VT_UI2:
        hr = ToInteger(s, 0, 0xFFFF, &n);
        result.iVal = static_cast<SHORT>(static_cast<USHORT>(n));
        break;
    case VT_UI4:
        hr = ToInteger(s, 0, 0xFFFFFFFFll, &n);
        result.ulVal = static_cast<ULONG>(n);
        break;
    case VT_I8:
        hr = ToInteger(s, std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max(), &n);
        result.llVal = n;
        break;
    case VT_BOOL:
        if (s.kind == Scalar::Text) {
            Scalar parsed;
            hr = ParseText(s.text, &parsed);
            s = parsed;
        }
        if (SUCCEEDED(hr))
            result.boolVal = (s.kind == Scalar::Real ? s.real != 0 : s.integer != 0) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_R8:
        if (s.kind == Scalar::Text) {
            Scalar parsed;
            hr = ParseText(s.text, &parsed);
            s = parsed;
        }
        result.dblVal = s.kind == Scalar::Real ? s.real : static_cast<double>(s.integer);
        break;
    case VT_BSTR: {
        std::string text;
        hr = ToText(s, flags, &text);
        if (SUCCEEDED(hr)) {
            result.bstrVal = platform::BstrFromUtf8(text);
            if (!result.bstrVal) hr = E_OUTOFMEMORY;
        }
        break;
    }
    default: hr = DISP_E_TYPEMISMATCH; break;
    }
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    // Only now is the destination given up, so dest may be source.
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}
