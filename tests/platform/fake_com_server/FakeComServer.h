// The one class of the test-only COM server.
#pragma once

#include "platform/com.h"

inline const CLSID CLSID_FakeAnswer = MakeGuid("5E1F3A20-7C44-4B9B-9D1E-2A6B8F0C1D01");
inline const IID IID_IFakeAnswer = MakeGuid("5E1F3A20-7C44-4B9B-9D1E-2A6B8F0C1D02");

struct IFakeAnswer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Answer(LONG* value) = 0;
    // Another object of the class, made by class id from inside the library
    // (as a library that builds its own objects through activation does).
    virtual HRESULT STDMETHODCALLTYPE MakeSibling(IFakeAnswer** sibling) = 0;

protected:
    ~IFakeAnswer() = default;
};
