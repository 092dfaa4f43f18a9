#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "platform/oleauto.h"
#include "platform/src/VarTypeSize.h"

// An array made here is one block: a hidden header (element type, element
// interface id), then the SAFEARRAY with one bound per dimension. The data
// is a separate zeroed block. Bounds are kept in reverse order of creation
// (rgsabound[cDims - 1] is the first dimension), and the first dimension
// varies fastest, so that indices[i] pairs with the i-th creation bound.
namespace {

constexpr std::uint32_t kMagic = 0x53414652; // "SAFR"
// Descriptors that belong to someone else: never freed here.
constexpr USHORT kForeignFeatures = FADF_AUTO | FADF_STATIC | 0x0004 /* FADF_EMBEDDED */;
constexpr USHORT kTypeFeatures = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;

struct alignas(std::max_align_t) HiddenHeader {
    std::uint32_t magic;
    VARTYPE vt;
    GUID iid;
};

SAFEARRAYBOUND* Bound(SAFEARRAY* array, UINT index) { return array->rgsabound + index; }

HiddenHeader* HeaderOf(SAFEARRAY* array) {
    if (array->fFeatures & kForeignFeatures) return nullptr;
    if (!(array->fFeatures & (FADF_HAVEVARTYPE | FADF_HAVEIID))) return nullptr;
    auto* header = reinterpret_cast<HiddenHeader*>(reinterpret_cast<char*>(array) - sizeof(HiddenHeader));
    return header->magic == kMagic ? header : nullptr;
}

USHORT TypeFeatures(VARTYPE vt) {
    switch (vt) {
    case VT_BSTR: return FADF_BSTR;
    case VT_DISPATCH: return FADF_DISPATCH | FADF_HAVEIID;
    case VT_UNKNOWN: return FADF_UNKNOWN | FADF_HAVEIID;
    case VT_VARIANT: return FADF_VARIANT;
    default: return 0;
    }
}

bool ElementCount(SAFEARRAY* array, std::size_t* count) {
    std::size_t n = 1;
    for (UINT i = 0; i < array->cDims; ++i) {
        ULONG c = Bound(array, i)->cElements;
        if (c && n > std::numeric_limits<std::size_t>::max() / c) return false;
        n *= c;
    }
    *count = n;
    return true;
}

bool DataBytes(SAFEARRAY* array, std::size_t* bytes) {
    std::size_t n = 0;
    if (!ElementCount(array, &n)) return false;
    if (array->cbElements && n > std::numeric_limits<std::size_t>::max() / array->cbElements) return false;
    *bytes = n * array->cbElements;
    return true;
}

// bounds are in creation order (first dimension first).
SAFEARRAY* Allocate(VARTYPE vt, ULONG elementSize, USHORT features, UINT dims, const SAFEARRAYBOUND* bounds,
                    const GUID& iid) {
    if (dims == 0 || dims > 0xFFFF || !bounds || elementSize == 0) return nullptr;
    for (UINT i = 0; i < dims; ++i) {
        // The upper bound must be representable as a LONG.
        if (std::int64_t{bounds[i].lLbound} + bounds[i].cElements - 1 > std::numeric_limits<LONG>::max())
            return nullptr;
    }
    std::size_t descriptor = offsetof(SAFEARRAY, rgsabound) + std::size_t{dims} * sizeof(SAFEARRAYBOUND);
    void* block = std::calloc(1, sizeof(HiddenHeader) + descriptor);
    if (!block) return nullptr;
    auto* header = new (block) HiddenHeader{kMagic, vt, iid};
    auto* array = reinterpret_cast<SAFEARRAY*>(reinterpret_cast<char*>(header) + sizeof(HiddenHeader));
    array->cDims = static_cast<USHORT>(dims);
    array->fFeatures = static_cast<USHORT>(features | FADF_HAVEVARTYPE);
    array->cbElements = elementSize;
    for (UINT i = 0; i < dims; ++i) *Bound(array, dims - 1 - i) = bounds[i];
    std::size_t bytes = 0;
    if (!DataBytes(array, &bytes)) {
        std::free(block);
        return nullptr;
    }
    // Never a null data pointer, even for zero elements: callers may hand
    // it straight to memcpy.
    array->pvData = std::calloc(1, bytes ? bytes : 1);
    if (!array->pvData) {
        std::free(block);
        return nullptr;
    }
    return array;
}

void ReleaseElements(SAFEARRAY* array) {
    std::size_t n = 0;
    if (!array->pvData || !ElementCount(array, &n)) return;
    if (array->fFeatures & FADF_BSTR) {
        auto* items = static_cast<BSTR*>(array->pvData);
        for (std::size_t i = 0; i < n; ++i) SysFreeString(std::exchange(items[i], nullptr));
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* items = static_cast<IUnknown**>(array->pvData);
        for (std::size_t i = 0; i < n; ++i)
            if (IUnknown* item = std::exchange(items[i], nullptr)) item->Release();
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* items = static_cast<VARIANT*>(array->pvData);
        for (std::size_t i = 0; i < n; ++i) VariantClear(&items[i]);
    }
}

// Byte offset of the element at indices, or false when out of bounds.
bool CellOffset(SAFEARRAY* array, const LONG* indices, std::size_t* offset) {
    std::size_t cell = 0;
    std::size_t stride = 1;
    for (UINT i = 0; i < array->cDims; ++i) {
        const SAFEARRAYBOUND* b = Bound(array, array->cDims - 1 - i);
        std::int64_t relative = std::int64_t{indices[i]} - b->lLbound;
        if (relative < 0 || relative >= std::int64_t{b->cElements}) return false;
        cell += static_cast<std::size_t>(relative) * stride;
        stride *= b->cElements;
    }
    *offset = cell * array->cbElements;
    return true;
}

bool VartypeOf(SAFEARRAY* array, VARTYPE* vt) {
    if (HiddenHeader* header = HeaderOf(array)) {
        *vt = header->vt;
        return true;
    }
    if (array->fFeatures & FADF_BSTR) *vt = VT_BSTR;
    else if (array->fFeatures & FADF_DISPATCH) *vt = VT_DISPATCH;
    else if (array->fFeatures & FADF_UNKNOWN) *vt = VT_UNKNOWN;
    else if (array->fFeatures & FADF_VARIANT) *vt = VT_VARIANT;
    else if (array->cbElements == 1) *vt = VT_UI1; // a borrowed byte buffer
    else return false;
    return true;
}

} // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    GUID iid = vt == VT_DISPATCH ? IID_IDispatch : vt == VT_UNKNOWN ? IID_IUnknown : IID_NULL;
    return Allocate(vt, platform::detail::VarTypeSize(vt), TypeFeatures(vt), dims, bounds, iid);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
    SAFEARRAYBOUND bound{elements, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

SAFEARRAY* SafeArrayCreateVectorEx(VARTYPE vt, LONG lowerBound, ULONG elements, void* extra) {
    SAFEARRAYBOUND bound{elements, lowerBound};
    GUID iid = vt == VT_DISPATCH ? IID_IDispatch : vt == VT_UNKNOWN ? IID_IUnknown : IID_NULL;
    if (extra && (vt == VT_DISPATCH || vt == VT_UNKNOWN)) iid = *static_cast<const GUID*>(extra);
    return Allocate(vt, platform::detail::VarTypeSize(vt), TypeFeatures(vt), 1, &bound, iid);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    if (array->cLocks) return DISP_E_ARRAYISLOCKED;
    HiddenHeader* header = HeaderOf(array);
    // Someone else's descriptor (a borrowed buffer): leave it and its memory alone.
    if (!header) return E_INVALIDARG;
    ReleaseElements(array);
    std::free(array->pvData);
    header->magic = 0;
    std::free(header);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array ? array->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array ? array->cbElements : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim == 0 || dim > array->cDims) return DISP_E_BADINDEX;
    *bound = Bound(array, array->cDims - dim)->lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim == 0 || dim > array->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND* b = Bound(array, array->cDims - dim);
    *bound = static_cast<LONG>(std::int64_t{b->lLbound} + b->cElements - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (!array || !vt) return E_INVALIDARG;
    return VartypeOf(array, vt) ? S_OK : E_INVALIDARG;
}

HRESULT SafeArrayGetIID(SAFEARRAY* array, GUID* iid) {
    if (!array || !iid) return E_INVALIDARG;
    HiddenHeader* header = HeaderOf(array);
    if (!header || !(array->fFeatures & FADF_HAVEIID)) return E_INVALIDARG;
    *iid = header->iid;
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr)) return hr;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (!array || !indices) return E_INVALIDARG;
    std::size_t offset = 0;
    if (!CellOffset(array, indices, &offset)) return DISP_E_BADINDEX;
    void* cell = static_cast<char*>(array->pvData) + offset;
    if (array->fFeatures & FADF_BSTR) {
        auto source = static_cast<BSTR>(value);
        BSTR copy = nullptr;
        if (source) {
            copy = SysAllocStringLen(source, SysStringLen(source));
            if (!copy) return E_OUTOFMEMORY;
        }
        SysFreeString(std::exchange(*static_cast<BSTR*>(cell), copy));
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* item = static_cast<IUnknown*>(value);
        if (item) item->AddRef();
        if (IUnknown* old = std::exchange(*static_cast<IUnknown**>(cell), item)) old->Release();
    } else if (array->fFeatures & FADF_VARIANT) {
        if (!value) return E_INVALIDARG;
        return VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(value));
    } else {
        if (!value) return E_INVALIDARG;
        std::memcpy(cell, value, array->cbElements);
    }
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (!array || !indices || !value) return E_INVALIDARG;
    std::size_t offset = 0;
    if (!CellOffset(array, indices, &offset)) return DISP_E_BADINDEX;
    void* cell = static_cast<char*>(array->pvData) + offset;
    if (array->fFeatures & FADF_BSTR) {
        BSTR source = *static_cast<BSTR*>(cell);
        BSTR copy = nullptr;
        if (source) {
            copy = SysAllocStringLen(source, SysStringLen(source));
            if (!copy) return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(value) = copy;
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* item = *static_cast<IUnknown**>(cell);
        if (item) item->AddRef();
        *static_cast<IUnknown**>(value) = item;
    } else if (array->fFeatures & FADF_VARIANT) {
        // The destination is an out-parameter: whatever it held is not freed.
        auto* dest = static_cast<VARIANT*>(value);
        VariantInit(dest);
        return VariantCopy(dest, static_cast<const VARIANT*>(cell));
    } else {
        std::memcpy(value, cell, array->cbElements);
    }
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
    if (!copy) return E_INVALIDARG;
    *copy = nullptr;
    if (!source) return S_OK;
    VARTYPE vt = VT_EMPTY;
    bool typed = VartypeOf(source, &vt);
    GUID iid = IID_NULL;
    if (HiddenHeader* header = HeaderOf(source)) iid = header->iid;
    USHORT features = static_cast<USHORT>((source->fFeatures & (kTypeFeatures | FADF_HAVEIID)));
    std::vector<SAFEARRAYBOUND> bounds(source->cDims);
    for (UINT i = 0; i < source->cDims; ++i) bounds[i] = *Bound(source, source->cDims - 1 - i);
    SAFEARRAY* result = Allocate(typed ? vt : static_cast<VARTYPE>(VT_EMPTY), source->cbElements, features, source->cDims, bounds.data(), iid);
    if (!result) return E_OUTOFMEMORY;
    std::size_t n = 0;
    ElementCount(source, &n);
    if (source->fFeatures & FADF_BSTR) {
        auto* from = static_cast<BSTR*>(source->pvData);
        auto* to = static_cast<BSTR*>(result->pvData);
        for (std::size_t i = 0; i < n; ++i) {
            if (!from[i]) continue;
            to[i] = SysAllocStringLen(from[i], SysStringLen(from[i]));
            if (!to[i]) {
                SafeArrayDestroy(result);
                return E_OUTOFMEMORY;
            }
        }
    } else if (source->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* from = static_cast<IUnknown**>(source->pvData);
        auto* to = static_cast<IUnknown**>(result->pvData);
        for (std::size_t i = 0; i < n; ++i)
            if ((to[i] = from[i])) to[i]->AddRef();
    } else if (source->fFeatures & FADF_VARIANT) {
        auto* from = static_cast<VARIANT*>(source->pvData);
        auto* to = static_cast<VARIANT*>(result->pvData);
        for (std::size_t i = 0; i < n; ++i) {
            HRESULT hr = VariantCopy(&to[i], &from[i]);
            if (FAILED(hr)) {
                SafeArrayDestroy(result);
                return hr;
            }
        }
    } else if (n) {
        std::memcpy(result->pvData, source->pvData, n * source->cbElements);
    }
    *copy = result;
    return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, LONG* indices, void** element) {
    if (!array || !indices || !element) return E_INVALIDARG;
    std::size_t offset = 0;
    if (!CellOffset(array, indices, &offset)) return DISP_E_BADINDEX;
    *element = static_cast<char*>(array->pvData) + offset;
    return S_OK;
}

namespace platform {

BorrowedByteArray::BorrowedByteArray(BYTE* data, ULONG count, LONG lowerBound) {
    array_.cDims = 1;
    array_.fFeatures = FADF_STATIC | FADF_FIXEDSIZE;
    array_.cbElements = 1;
    array_.cLocks = 0;
    array_.pvData = data;
    array_.rgsabound[0].cElements = count;
    array_.rgsabound[0].lLbound = lowerBound;
}

VARIANT BorrowedByteArray::ByRefVariant() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    v.pparray = &self_;
    return v;
}

} // namespace platform
