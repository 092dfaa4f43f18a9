// The size in bytes of one value of an Automation type, as an array element
// or behind a by-reference Variant; 0 for a type this runtime does not hold.
#pragma once

#include "platform/oleauto.h"

namespace platform::detail {

inline ULONG VarTypeSize(VARTYPE vt) {
    switch (vt) {
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_ERROR: return 4;
    case VT_R8:
    case VT_I8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(IUnknown*);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}

} // namespace platform::detail
