// One position of a byte pattern: a literal byte, or any byte.
#include "ByteArray.h"
#include "Classes.h"
#include "ComObject.h"

namespace typhex {
namespace {

class ByteValue final : public DispatchObject<IByteValue, IID_IByteValue> {
public:
    HRESULT STDMETHODCALLTYPE get_DontCare(VARIANT_BOOL* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = dontCare_ ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_DontCare(VARIANT_BOOL newVal) override {
        dontCare_ = newVal != 0;
        if (dontCare_) value_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Value(BYTE* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = value_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Value(BYTE newVal) override {
        dontCare_ = false;
        value_ = newVal;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Serialise(SHORT* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = static_cast<SHORT>(dontCare_ ? DontCareEntry : value_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Deserialise(SHORT intValue) override {
        auto entry = static_cast<std::uint16_t>(intValue);
        if (entry & 0xFF00u) return put_DontCare(1);
        return put_Value(static_cast<BYTE>(entry));
    }

private:
    bool dontCare_ = true;
    BYTE value_ = 0;
};

} // namespace

HRESULT CreateByteValue(REFIID riid, void** object) { return CreateObject<ByteValue>(riid, object); }

} // namespace typhex
