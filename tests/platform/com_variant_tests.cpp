#include <gtest/gtest.h>

#include "platform/oleauto.h"

namespace {

VARIANT Bstr(const char* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = platform::BstrFromUtf8(text);
    return v;
}

VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

} // namespace

TEST(Variant, CopyDuplicatesOwnedArrayAndSharesByRef) {
    VARIANT owned;
    VariantInit(&owned);
    owned.vt = VT_ARRAY | VT_UI1;
    owned.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    static_cast<BYTE*>(owned.parray->pvData)[2] = 7;

    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &owned), S_OK);
    EXPECT_NE(copy.parray, owned.parray);
    EXPECT_EQ(static_cast<BYTE*>(copy.parray->pvData)[2], 7);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);

    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    byRef.pparray = &owned.parray;
    ASSERT_EQ(VariantCopy(&copy, &byRef), S_OK);
    EXPECT_EQ(copy.pparray, &owned.parray);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&byRef), S_OK);
    EXPECT_NE(owned.parray, nullptr); // still the owner's
    EXPECT_EQ(VariantClear(&owned), S_OK);
}

TEST(Variant, RejectsUnknownTypes) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    v.vt = VT_VARIANT; // only valid by reference
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, ConvertsTheScalarsInvokeNeeds) {
    VARIANT v = Long(300), out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_I2), S_OK);
    EXPECT_EQ(out.vt, VT_I2);
    EXPECT_EQ(out.iVal, 300);
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_UI1), DISP_E_OVERFLOW);
    EXPECT_EQ(out.vt, VT_I2); // untouched on failure

    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    EXPECT_EQ(VariantChangeType(&out, &out, VARIANT_ALPHABOOL, VT_BSTR), S_OK); // in place
    EXPECT_EQ(platform::Utf8FromBstr(out.bstrVal), "True");

    VARIANT text = Bstr(" 42 ");
    EXPECT_EQ(VariantChangeType(&out, &text, 0, VT_INT), S_OK);
    EXPECT_EQ(out.vt, VT_INT);
    EXPECT_EQ(out.intVal, 42);
    VariantClear(&text);
    text = Bstr("forty-two");
    EXPECT_EQ(VariantChangeType(&out, &text, 0, VT_I4), DISP_E_TYPEMISMATCH);
    VariantClear(&text);

    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 2.5;
    EXPECT_EQ(VariantChangeType(&out, &real, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 2); // half to even
    real.dblVal = 3.5;
    EXPECT_EQ(VariantChangeType(&out, &real, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 4);
    EXPECT_EQ(VariantChangeType(&out, &real, 0, VT_BSTR), S_OK);
    EXPECT_EQ(platform::Utf8FromBstr(out.bstrVal), "3.5");

    // By-reference sources are read through.
    SHORT shortValue = -5;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I2 | VT_BYREF;
    ref.piVal = &shortValue;
    EXPECT_EQ(VariantChangeType(&out, &ref, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, -5);

    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(VariantChangeType(&out, &empty, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 0);
    VariantClear(&out);
}

TEST(Variant, CopyIndGivesAnOwnedCopyOfWhatIsReferenced) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(array->pvData)[1] = 9;
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    byRef.pparray = &array;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopyInd(&copy, &byRef), S_OK);
    EXPECT_EQ(copy.vt, VT_ARRAY | VT_UI1);
    EXPECT_NE(copy.parray, array);
    EXPECT_EQ(static_cast<BYTE*>(copy.parray->pvData)[1], 9);
    VariantClear(&copy);
    SafeArrayDestroy(array);

    LONG number = 77;
    byRef.vt = VT_I4 | VT_BYREF;
    byRef.plVal = &number;
    ASSERT_EQ(VariantCopyInd(&copy, &byRef), S_OK);
    EXPECT_EQ(copy.vt, VT_I4);
    EXPECT_EQ(copy.lVal, 77);

    VARIANT inner = Bstr("text");
    byRef.vt = VT_VARIANT | VT_BYREF;
    byRef.pvarVal = &inner;
    ASSERT_EQ(VariantCopyInd(&copy, &byRef), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, inner.bstrVal);
    VariantClear(&copy);
    VariantClear(&inner);
}
