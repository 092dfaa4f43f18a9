#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/oleauto.h"

namespace {

// Counts its references; it never frees itself so that a test can look at
// the count after the last Release.
class CountingDispatch final : public IDispatch {
public:
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

const GUID kElementIid = MakeGuid("7B73AFFB-970A-4902-9490-E2056B86902D");

} // namespace

TEST(SafeArray, VectorBoundsFollowTheLowerBound) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 1, 10);
    ASSERT_NE(a, nullptr);
    LONG lower = 0, upper = 0;
    EXPECT_EQ(SafeArrayGetLBound(a, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(upper, 10);
    EXPECT_EQ(SafeArrayGetDim(a), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(a), 1u);
    EXPECT_EQ(SafeArrayGetLBound(a, 2, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetLBound(a, 0, &lower), DISP_E_BADINDEX);

    // Elements are addressed by the array's own indices: 1 is the first byte.
    BYTE value = 0x5A;
    LONG index = 1;
    EXPECT_EQ(SafeArrayPutElement(a, &index, &value), S_OK);
    EXPECT_EQ(static_cast<BYTE*>(a->pvData)[0], 0x5A);
    index = 0;
    EXPECT_EQ(SafeArrayPutElement(a, &index, &value), DISP_E_BADINDEX);
    index = 11;
    EXPECT_EQ(SafeArrayGetElement(a, &index, &value), DISP_E_BADINDEX);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);

    SAFEARRAY* none = SafeArrayCreateVector(VT_INT, 0, 0);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(SafeArrayGetUBound(none, 1, &upper), S_OK);
    EXPECT_EQ(upper, -1);
    EXPECT_NE(none->pvData, nullptr);
    EXPECT_EQ(SafeArrayDestroy(none), S_OK);

    EXPECT_EQ(SafeArrayCreateVector(static_cast<VARTYPE>(99), 0, 4), nullptr);
}

TEST(SafeArray, LockedArrayIsNotDestroyed) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_I4, 0, 3);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
    EXPECT_EQ(data, a->pvData);
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(a), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArray, InterfaceArrayReleasesEachElementOnce) {
    CountingDispatch first, second;
    SAFEARRAY* a = SafeArrayCreateVectorEx(VT_DISPATCH, 0, 3, const_cast<GUID*>(&kElementIid));
    ASSERT_NE(a, nullptr);
    GUID iid{};
    EXPECT_EQ(SafeArrayGetIID(a, &iid), S_OK);
    EXPECT_EQ(iid, kElementIid);
    EXPECT_TRUE(a->fFeatures & FADF_HAVEIID);

    LONG i = 0;
    EXPECT_EQ(SafeArrayPutElement(a, &i, static_cast<IDispatch*>(&first)), S_OK);
    i = 1;
    EXPECT_EQ(SafeArrayPutElement(a, &i, static_cast<IDispatch*>(&second)), S_OK);
    // Replacing an element releases the one it held.
    EXPECT_EQ(SafeArrayPutElement(a, &i, static_cast<IDispatch*>(&first)), S_OK);
    EXPECT_EQ(first.refs, 3u);
    EXPECT_EQ(second.refs, 1u);

    IDispatch* got = nullptr;
    EXPECT_EQ(SafeArrayGetElement(a, &i, &got), S_OK);
    EXPECT_EQ(got, &first);
    got->Release();

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
    EXPECT_EQ(first.refs, 5u);
    EXPECT_EQ(SafeArrayGetIID(copy, &iid), S_OK);
    EXPECT_EQ(iid, kElementIid);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK); // the null third slot is skipped
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 1u);
}

TEST(SafeArray, TextAndVariantElementsAreOwnedCopies) {
    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
    BSTR s = SysAllocString(u"jpg");
    LONG i = 0;
    ASSERT_EQ(SafeArrayPutElement(texts, &i, s), S_OK);
    SysFreeString(s); // the array holds its own copy
    BSTR back = nullptr;
    ASSERT_EQ(SafeArrayGetElement(texts, &i, &back), S_OK);
    EXPECT_EQ(platform::Utf8FromBstr(back), "jpg");
    SysFreeString(back);
    EXPECT_EQ(SafeArrayDestroy(texts), S_OK);

    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = platform::BstrFromUtf8("inside");
    ASSERT_EQ(SafeArrayPutElement(variants, &i, &v), S_OK);
    VariantClear(&v);
    VARIANT out;
    ASSERT_EQ(SafeArrayGetElement(variants, &i, &out), S_OK);
    EXPECT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(platform::Utf8FromBstr(out.bstrVal), "inside");
    VariantClear(&out);
    EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
}

TEST(SafeArray, BorrowedBufferIsSeenInPlaceAndNeverFreed) {
    std::vector<BYTE> buffer(2048001, 0);
    buffer[0] = 0xFF;
    buffer[1] = 0xD8;
    platform::BorrowedByteArray borrowed(buffer.data(), static_cast<ULONG>(buffer.size()));
    VARIANT v = borrowed.ByRefVariant();
    EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1 | VT_BYREF);
    SAFEARRAY* a = *v.pparray;
    EXPECT_EQ(a->pvData, buffer.data()); // no copy
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
    EXPECT_EQ(upper, 2048000);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);

    // The caller's later writes show through, and writes through the array
    // land in the caller's buffer.
    buffer[512] = 0x47;
    BYTE* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(data[512], 0x47);
    data[1] = 0xD9;
    SafeArrayUnaccessData(a);
    EXPECT_EQ(buffer[1], 0xD9);

    EXPECT_EQ(SafeArrayDestroy(a), E_INVALIDARG);
    EXPECT_EQ(VariantClear(&v), S_OK); // by reference: nothing is freed
    EXPECT_EQ(a->pvData, buffer.data());

    // A copy is an owned array of the same bytes.
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
    EXPECT_NE(copy->pvData, buffer.data());
    EXPECT_EQ(static_cast<BYTE*>(copy->pvData)[512], 0x47);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}
