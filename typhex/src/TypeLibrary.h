// The library's type library, compiled in: its coclasses and interfaces,
// every member with its DISPID, kind, parameter kinds and help string, and
// the type information through which IDispatch works.
#pragma once

#include <cstddef>

#include "Typhex.h"

namespace typhex {

enum class MemberKind { Method, MethodWithResult, PropertyGet, PropertyPut };

struct MemberDescription;
using InvokeThunk = HRESULT (*)(void* instance, const MemberDescription& member, DISPPARAMS* params,
                                VARIANT* result, UINT* argErr);

struct MemberDescription {
    const char* name;
    DISPID id;
    MemberKind kind;
    // One letter per parameter: l signed 32-bit, i signed 16-bit, b Boolean,
    // y byte, d double, s text, v Variant, o object.
    const char* parameterKinds;
    const char* parameterNames; // comma-separated
    InvokeThunk invoke;
    const char* help;
};

struct InterfaceDescription {
    const char* name;
    const GUID* iid;
    const MemberDescription* members;
    std::size_t memberCount;
};

struct CoClassDescription {
    const char* name; // "ByteValue": ProgIDs are "Typhex.ByteValue" and "Typhex.ByteValue.1"
    const GUID* clsid;
    const InterfaceDescription* defaultInterface;
    const char* help;
};

inline constexpr const char* LibraryName = "Typhex";

const CoClassDescription* CoClasses(std::size_t* count);
const InterfaceDescription* FindInterface(REFIID iid);

// The type information of one of the seven interfaces, kept for the life of
// the library (AddRef and Release do not destroy it); null for other ids.
ITypeInfo* InterfaceTypeInfo(REFIID iid);

} // namespace typhex
