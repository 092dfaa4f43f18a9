// Invoke's argument handling: each parameter of a vtable method gets a slot
// that takes its value from the caller's Variant (converting with
// VariantChangeType, or passing a by-reference Variant's own storage), and
// the result parameter is handed back in the result Variant.
#pragma once

#include <tuple>
#include <type_traits>
#include <utility>

#include "TypeLibrary.h"

namespace typhex::dispatch {

inline VARTYPE KindType(char kind) {
    switch (kind) {
    case 'l': return VT_I4;
    case 'i': return VT_I2;
    case 'b': return VT_BOOL;
    case 'y': return VT_UI1;
    case 'd': return VT_R8;
    case 's': return VT_BSTR;
    case 'v': return VT_VARIANT;
    default: return VT_DISPATCH;
    }
}

inline const VARIANT* Dereferenced(const VARIANT* arg) {
    if (arg && arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) return arg->pvarVal;
    return arg;
}

template <class T>
void StoreScalar(const VARIANT& from, T* to) {
    switch (from.vt) {
    case VT_I4: *to = static_cast<T>(from.lVal); break;
    case VT_I2: *to = static_cast<T>(from.iVal); break;
    case VT_BOOL: *to = static_cast<T>(from.boolVal); break;
    case VT_UI1: *to = static_cast<T>(from.bVal); break;
    case VT_R8: *to = static_cast<T>(from.dblVal); break;
    default: break;
    }
}

template <class T>
void PutScalar(VARIANT* to, VARTYPE vt, T value) {
    to->vt = vt;
    switch (vt) {
    case VT_I4: to->lVal = static_cast<LONG>(value); break;
    case VT_I2: to->iVal = static_cast<SHORT>(value); break;
    case VT_BOOL: to->boolVal = static_cast<VARIANT_BOOL>(value); break;
    case VT_UI1: to->bVal = static_cast<BYTE>(value); break;
    case VT_R8: to->dblVal = static_cast<double>(value); break;
    default: break;
    }
}

inline HRESULT Converted(const VARIANT* arg, VARTYPE vt, VARIANT* out) {
    VariantInit(out);
    HRESULT hr = VariantChangeType(out, arg, 0, vt);
    return FAILED(hr) ? (hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH) : S_OK;
}

template <class I> REFIID InterfaceIdOf();
template <> inline REFIID InterfaceIdOf<IByteValue>() { return IID_IByteValue; }
template <> inline REFIID InterfaceIdOf<IFileContent>() { return IID_IFileContent; }
template <> inline REFIID InterfaceIdOf<IFileSignature>() { return IID_IFileSignature; }
template <> inline REFIID InterfaceIdOf<ISupportedFileType>() { return IID_ISupportedFileType; }

// An interface pointer from a Variant holding an object, or null for an
// empty, null or missing argument.
template <class I>
HRESULT ObjectFrom(const VARIANT* arg, I** out) {
    *out = nullptr;
    arg = Dereferenced(arg);
    IUnknown* object = nullptr;
    switch (arg->vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_ERROR: return S_OK;
    case VT_DISPATCH: object = arg->pdispVal; break;
    case VT_UNKNOWN: object = arg->punkVal; break;
    case VT_BYREF | VT_DISPATCH: object = arg->ppdispVal ? *arg->ppdispVal : nullptr; break;
    case VT_BYREF | VT_UNKNOWN: object = arg->ppunkVal ? *arg->ppunkVal : nullptr; break;
    default: return DISP_E_TYPEMISMATCH;
    }
    if (!object) return S_OK;
    return SUCCEEDED(object->QueryInterface(InterfaceIdOf<I>(), reinterpret_cast<void**>(out)))
               ? S_OK
               : DISP_E_TYPEMISMATCH;
}

template <class T, class Enable = void>
struct Slot;

// In values: LONG, SHORT (also Booleans), BYTE, double.
template <class T>
struct Slot<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
    T value{};
    HRESULT Load(const VARIANT* arg, char kind) {
        VARIANT converted;
        HRESULT hr = Converted(arg, KindType(kind), &converted);
        if (FAILED(hr)) return hr;
        StoreScalar(converted, &value);
        return S_OK;
    }
    T Get() { return value; }
    void Deliver(VARIANT*, char) {}
};

// In texts.
template <>
struct Slot<BSTR> {
    VARIANT converted{};
    ~Slot() { VariantClear(&converted); }
    HRESULT Load(const VARIANT* arg, char) { return Converted(Dereferenced(arg), VT_BSTR, &converted); }
    BSTR Get() { return converted.bstrVal; }
    void Deliver(VARIANT*, char) {}
};

// In Variants: passed as the caller holds them.
template <>
struct Slot<VARIANT> {
    VARIANT value{};
    HRESULT Load(const VARIANT* arg, char) {
        value = *Dereferenced(arg);
        return S_OK;
    }
    VARIANT Get() { return value; }
    void Deliver(VARIANT*, char) {}
};

// In objects.
template <class I>
struct Slot<I*, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> {
    I* object = nullptr;
    ~Slot() {
        if (object) object->Release();
    }
    HRESULT Load(const VARIANT* arg, char) { return ObjectFrom(arg, &object); }
    I* Get() { return object; }
    void Deliver(VARIANT*, char) {}
};

// Out and in/out numbers: the caller's own storage when it passed a
// reference of the right type, else a local copy.
template <class T>
struct Slot<T*, std::enable_if_t<std::is_arithmetic_v<T>>> {
    T storage{};
    T* pointer = &storage;
    HRESULT Load(const VARIANT* arg, char kind) {
        if (!arg) return S_OK; // the result
        const VARTYPE vt = KindType(kind);
        if (arg->vt == (VT_BYREF | vt) && arg->byref) {
            pointer = static_cast<T*>(arg->byref);
            return S_OK;
        }
        VARIANT converted;
        HRESULT hr = Converted(arg, vt, &converted);
        if (FAILED(hr)) return hr;
        StoreScalar(converted, &storage);
        return S_OK;
    }
    T* Get() { return pointer; }
    void Deliver(VARIANT* result, char kind) {
        if (result) PutScalar(result, KindType(kind), storage);
    }
};

// Out and in/out texts.
template <>
struct Slot<BSTR*> {
    BSTR storage = nullptr;
    BSTR* pointer = &storage;
    ~Slot() { SysFreeString(storage); }
    HRESULT Load(const VARIANT* arg, char) {
        if (!arg) return S_OK;
        if (arg->vt == (VT_BYREF | VT_BSTR) && arg->pbstrVal) {
            pointer = arg->pbstrVal;
            return S_OK;
        }
        VARIANT converted;
        HRESULT hr = Converted(Dereferenced(arg), VT_BSTR, &converted);
        if (FAILED(hr)) return hr;
        storage = converted.bstrVal;
        return S_OK;
    }
    BSTR* Get() { return pointer; }
    void Deliver(VARIANT* result, char) {
        if (!result) return;
        result->vt = VT_BSTR;
        result->bstrVal = std::exchange(storage, nullptr);
    }
};

// Out and in/out Variants.
template <>
struct Slot<VARIANT*> {
    VARIANT storage{};
    VARIANT* pointer = &storage;
    ~Slot() { VariantClear(&storage); }
    HRESULT Load(VARIANT* arg, char) {
        if (!arg) return S_OK;
        pointer = (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal) ? arg->pvarVal : arg;
        return S_OK;
    }
    VARIANT* Get() { return pointer; }
    void Deliver(VARIANT* result, char) {
        if (!result) return;
        *result = storage;
        VariantInit(&storage);
    }
};

// Out and in/out objects.
template <class I>
struct Slot<I**, std::enable_if_t<std::is_base_of_v<IUnknown, I>>> {
    I* storage = nullptr;
    I** pointer = &storage;
    ~Slot() {
        if (storage) storage->Release();
    }
    HRESULT Load(const VARIANT* arg, char) {
        if (!arg) return S_OK;
        if (arg->vt == (VT_BYREF | VT_DISPATCH) && arg->ppdispVal) {
            // An interface derived from IDispatch shares the IDispatch pointer.
            IDispatch* held = *arg->ppdispVal;
            if (held) {
                I* typed = nullptr;
                if (FAILED(held->QueryInterface(InterfaceIdOf<I>(), reinterpret_cast<void**>(&typed))))
                    return DISP_E_TYPEMISMATCH;
                typed->Release();
                if (static_cast<IDispatch*>(typed) != held) return DISP_E_TYPEMISMATCH;
            }
            pointer = reinterpret_cast<I**>(arg->ppdispVal);
            return S_OK;
        }
        return ObjectFrom(arg, &storage);
    }
    I** Get() { return pointer; }
    void Deliver(VARIANT* result, char) {
        if (!result) return;
        result->vt = VT_DISPATCH;
        result->pdispVal = std::exchange(storage, nullptr);
    }
};

template <class M>
struct MethodTraits;
template <class I, class... A>
struct MethodTraits<HRESULT (STDMETHODCALLTYPE I::*)(A...)> {
    using Interface = I;
    using Slots = std::tuple<Slot<A>...>;
    static constexpr std::size_t Count = sizeof...(A);
};

inline bool HasResult(MemberKind kind) {
    return kind == MemberKind::PropertyGet || kind == MemberKind::MethodWithResult;
}

template <auto Method, std::size_t... K>
HRESULT CallWith(void* instance, const MemberDescription& member, DISPPARAMS* params, VARIANT* result,
                 UINT* argErr, std::index_sequence<K...>) {
    using Traits = MethodTraits<decltype(Method)>;
    constexpr std::size_t count = Traits::Count;
    const bool hasResult = count > 0 && HasResult(member.kind);
    const std::size_t inputs = count - (hasResult ? 1 : 0);
    if (!params || params->cArgs != inputs) return DISP_E_BADPARAMCOUNT;
    typename Traits::Slots slots;
    HRESULT hr = S_OK;
    auto load = [&](auto& slot, std::size_t k) {
        if (FAILED(hr)) return;
        VARIANT* arg = k < inputs ? &params->rgvarg[params->cArgs - 1 - k] : nullptr;
        hr = slot.Load(arg, member.parameterKinds[k]);
        if (FAILED(hr) && argErr) *argErr = static_cast<UINT>(params->cArgs - 1 - k);
    };
    (load(std::get<K>(slots), K), ...);
    if (FAILED(hr)) return hr;
    auto* self = static_cast<typename Traits::Interface*>(instance);
    hr = (self->*Method)(std::get<K>(slots).Get()...);
    if (FAILED(hr)) return hr;
    if (result) VariantInit(result);
    if (hasResult) {
        auto deliver = [&](auto& slot, std::size_t k) {
            if (k == count - 1) slot.Deliver(result, member.parameterKinds[k]);
        };
        (deliver(std::get<K>(slots), K), ...);
    }
    return S_OK;
}

template <auto Method>
HRESULT Call(void* instance, const MemberDescription& member, DISPPARAMS* params, VARIANT* result, UINT* argErr) {
    return CallWith<Method>(instance, member, params, result, argErr,
                            std::make_index_sequence<MethodTraits<decltype(Method)>::Count>{});
}

} // namespace typhex::dispatch
