// OLE Automation: BSTR (UTF-16, length-prefixed), VARIANT, SAFEARRAY and
// IDispatch, for what the library's interfaces pass: byte arrays (directly or
// by reference, including one that wraps a caller's buffer without copying),
// arrays of dispatch interfaces, arrays of 32-bit integers, texts, numbers and
// the empty Variant.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/com.h"

using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using VARIANT_BOOL = std::int16_t;
using VARTYPE = std::uint16_t;
using DISPID = LONG;
using MEMBERID = DISPID;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// A BSTR is preceded by its byte length (32-bit) and ends with a NUL.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

namespace platform {
BSTR BstrFromUtf8(std::string_view text);
std::string Utf8FromBstr(const OLECHAR* text); // null gives ""
std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);
// Appends one code point; surrogates and values past U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
} // namespace platform

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_INT = 22,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;
constexpr USHORT FADF_HAVEIID = 0x0040;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};

struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        INT intVal;
        ULONG ulVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
// Releases what the Variant owns (not what a VT_BYREF Variant points to) and
// leaves it empty.
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);
// As VariantCopy, but a VT_BYREF source gives an owned copy of what it points
// to (an array is copied whole: avoid it for large borrowed buffers).
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source);
// VariantChangeType flags.
constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
constexpr USHORT VARIANT_ALPHABOOL = 0x2; // Booleans become "True"/"False" rather than "-1"/"0"

// Conversion for the scalar types IDispatch::Invoke needs (VT_EMPTY, VT_I2,
// VT_I4, VT_INT, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_R8, VT_BOOL, VT_BSTR, also
// from VT_BYREF to those); dest may be source. DISP_E_OVERFLOW when the value
// does not fit, DISP_E_TYPEMISMATCH when it cannot be converted.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt);

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// For VT_DISPATCH or VT_UNKNOWN, extra is the element interface id.
SAFEARRAY* SafeArrayCreateVectorEx(VARTYPE vt, LONG lowerBound, ULONG elements, void* extra);
// Arrays made here have zeroed elements and a data pointer that is never
// null, even for zero elements. VT_DISPATCH and VT_UNKNOWN arrays carry an
// element interface id (IID_IDispatch/IID_IUnknown unless given).

// Releases the elements (interfaces, texts, Variants) and the array.
// DISP_E_ARRAYISLOCKED while locked; E_INVALIDARG, freeing nothing, for a
// descriptor this runtime did not make (a BorrowedByteArray).
HRESULT SafeArrayDestroy(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayGetIID(SAFEARRAY* array, GUID* iid);
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
// Index by the array's own bounds; interfaces are AddRef'd, texts copied.
// For texts and interfaces PutElement takes the BSTR or interface pointer
// itself, other types a pointer to the value. GetElement writes an owned
// copy into value (a VARIANT out-parameter is not cleared first).
HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy);
// The address of the element at indices (DISP_E_BADINDEX out of bounds).
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, LONG* indices, void** element);

namespace platform {

// A one-dimensional byte array descriptor over memory the caller owns, as a
// fixed-size array of the caller's would be: nothing is copied, and the
// descriptor must not outlive the memory. SafeArrayDestroy refuses it.
class BorrowedByteArray {
public:
    BorrowedByteArray(BYTE* data, ULONG count, LONG lowerBound = 0);
    BorrowedByteArray(const BorrowedByteArray&) = delete;
    BorrowedByteArray& operator=(const BorrowedByteArray&) = delete;
    SAFEARRAY* Array() { return &array_; }
    // A Variant of VT_ARRAY | VT_UI1 | VT_BYREF that points at the descriptor.
    VARIANT ByRefVariant();

private:
    SAFEARRAY array_{};
    SAFEARRAY* self_ = &array_;
};

} // namespace platform

struct DISPPARAMS {
    VARIANTARG* rgvarg; // in reverse order, as Invoke expects
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// Type information as far as late-binding clients and the help strings need
// it: names to DISPIDs, Invoke through the vtable, and documentation.
struct ITypeInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                                             VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) = 0;
    // MEMBERID_NIL documents the interface itself.
    virtual HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString,
                                                       DWORD* helpContext, BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGuid(GUID* guid) = 0;

protected:
    ~ITypeInfo() = default;
};

extern const IID IID_ITypeInfo;

struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                    DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                             VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) = 0;

protected:
    ~IDispatch() = default;
};
