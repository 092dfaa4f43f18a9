// Late binding: names to DISPIDs, Invoke of members by name, and the help
// strings of the type library.
#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

class DispatchTest : public LibraryTest {};

DISPID IdOf(IDispatch* object, const char16_t* name) {
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = 12345;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id), S_OK);
    return id;
}

TEST_F(DispatchTest, NamesAreFoundWhateverTheirCase) {
    auto set = NewSet();
    EXPECT_EQ(IdOf(set.Get(), u"FindMatchingStart"), 7);
    EXPECT_EQ(IdOf(set.Get(), u"findmatchingstart"), 7); // answered from the cache, too
    EXPECT_EQ(IdOf(set.Get(), u"SECTORSIZE"), 3);
    std::u16string method(u"LoadFromFile"), parameter(u"blnSuccess");
    LPOLESTR names[] = {method.data(), parameter.data()};
    DISPID ids[2] = {};
    EXPECT_EQ(set->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 10);
    EXPECT_EQ(ids[1], 1);
    std::u16string unknown(u"NoSuchMember");
    LPOLESTR bad[] = {unknown.data()};
    DISPID id = 0;
    EXPECT_EQ(set->GetIDsOfNames(IID_NULL, bad, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    UINT count = 0;
    set->GetTypeInfoCount(&count);
    EXPECT_EQ(count, 1u);
}

TEST_F(DispatchTest, PropertiesPutAndGetByName) {
    auto set = NewSet();
    const DISPID sectorSize = IdOf(set.Get(), u"SectorSize");
    VARIANT value;
    value.vt = VT_I2; // converted to the property's type
    value.iVal = 2048;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(set->Invoke(sectorSize, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    Var result;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(set->Invoke(sectorSize, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, &result, nullptr,
                          nullptr),
              S_OK);
    EXPECT_EQ(result.get().vt, VT_I4);
    EXPECT_EQ(result.get().lVal, 2048);
    EXPECT_EQ(set->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTest, MethodsWithReferenceArgumentsAndResults) {
    auto math = Make<IExtraLong>(CLSID_ExtraLong, IID_IExtraLong);
    LONG low = 0, high = 0;
    VARIANT args[4]; // in reverse order: resultHI, resultLO, mult2, mult1
    args[3].vt = VT_I4;
    args[3].lVal = 2147483647;
    args[2].vt = VT_I4; // converted to a 16-bit integer
    args[2].lVal = 32767;
    args[1].vt = VT_BYREF | VT_I4;
    args[1].plVal = &low;
    args[0].vt = VT_BYREF | VT_I4;
    args[0].plVal = &high;
    DISPPARAMS params{args, nullptr, 4, 0};
    ASSERT_EQ(math->Invoke(IdOf(math.Get(), u"LongXInt"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                           nullptr),
              S_OK);
    EXPECT_EQ(low, 2147450881);
    EXPECT_EQ(high, 16383);

    // A member with a result: the last parameter comes back as the value.
    LONG pairLow = 705032704, pairHigh = 1;
    VARIANT compare[4];
    compare[3].vt = VT_R8;
    compare[3].dblVal = 5000000001.0;
    compare[2].vt = VT_BYREF | VT_I4;
    compare[2].plVal = &pairLow;
    compare[1].vt = VT_BYREF | VT_I4;
    compare[1].plVal = &pairHigh;
    compare[0].vt = VT_I4;
    compare[0].lVal = 0;
    DISPPARAMS compareParams{compare, nullptr, 4, 0};
    Var result;
    ASSERT_EQ(math->Invoke(IdOf(math.Get(), u"CompareDiff"), IID_NULL, 0, DISPATCH_METHOD, &compareParams, &result,
                           nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.get().vt, VT_I4);
    EXPECT_EQ(result.get().lVal, 1);

    DISPPARAMS tooFew{compare, nullptr, 2, 0};
    EXPECT_EQ(math->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &tooFew, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
}

TEST_F(DispatchTest, ObjectsTextsAndFailuresThroughInvoke) {
    auto set = NewSet();
    set->AddFileType(TypeWith("JPG", {"FFD8FF"}).Get());
    std::vector<BYTE> sector{0xFF, 0xD8, 0xFF, 0xE0};
    platform::BorrowedByteArray array(sector.data(), 4);
    IDispatch* signature = nullptr;
    BSTR extension = nullptr;
    VARIANT args[4]; // strFileExt, objSig, lngStartAt, varSeq
    args[3] = array.ByRefVariant();
    args[2].vt = VT_I4;
    args[2].lVal = 0;
    args[1].vt = VT_BYREF | VT_DISPATCH;
    args[1].ppdispVal = &signature;
    args[0].vt = VT_BYREF | VT_BSTR;
    args[0].pbstrVal = &extension;
    DISPPARAMS params{args, nullptr, 4, 0};
    Var match;
    ASSERT_EQ(set->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, &match, nullptr, nullptr), S_OK);
    EXPECT_EQ(match.get().vt, VT_BOOL);
    EXPECT_EQ(match.get().boolVal, 1);
    EXPECT_EQ(platform::Utf8FromBstr(extension), "JPG");
    ASSERT_NE(signature, nullptr);

    Var text;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(signature->Invoke(IdOf(signature, u"ToString"), IID_NULL, 0, DISPATCH_METHOD, &none, &text, nullptr,
                                nullptr),
              S_OK);
    ASSERT_EQ(text.get().vt, VT_BSTR);
    EXPECT_EQ(platform::Utf8FromBstr(text.get().bstrVal), "FFD8FF");

    // A member's own failure comes back as an exception carrying its code.
    VARIANT wrong[3];
    wrong[2].vt = VT_I4;
    wrong[2].lVal = 1;
    wrong[1].vt = VT_I4;
    wrong[1].lVal = 0;
    wrong[0].vt = VT_I4;
    wrong[0].lVal = 0;
    DISPPARAMS wrongParams{wrong, nullptr, 2, 0};
    EXCEPINFO error{};
    Var ignored;
    EXPECT_EQ(signature->Invoke(11, IID_NULL, 0, DISPATCH_METHOD, &wrongParams, &ignored, &error, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(error.scode, E_INVALIDARG);
    SysFreeString(error.bstrSource);
    signature->Release();
    SysFreeString(extension);
}

TEST_F(DispatchTest, HelpStringsOfTheTypeLibrary) {
    auto set = NewSet();
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(set->GetTypeInfo(0, 0, info.Put()), S_OK);
    GUID guid{};
    info->GetGuid(&guid);
    EXPECT_EQ(guid, IID_ISupportedFileTypes);
    Text name, help;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.str(), "ISupportedFileTypes");
    EXPECT_EQ(help.str(), "ISupportedFileTypes Interface");
    Text loadName, loadHelp;
    info->GetDocumentation(10, &loadName, &loadHelp, nullptr, nullptr);
    EXPECT_EQ(loadHelp.str(),
              "Loads the entire data set from a specified file, returning a flag to indicate success (True) or failure");
    Text sizeName, sizeHelp;
    info->GetDocumentation(3, &sizeName, &sizeHelp, nullptr, nullptr);
    EXPECT_EQ(sizeHelp.str(),
              "Sets/returns the size of a disk sector (used by FileSignature as part of the MatchesEnd check)");

    auto signature = NewSignature();
    ComPtr<ITypeInfo> signatureInfo;
    signature->GetTypeInfo(0, 0, signatureInfo.Put());
    Text toStringName, toStringHelp;
    signatureInfo->GetDocumentation(16, &toStringName, &toStringHelp, nullptr, nullptr);
    EXPECT_EQ(toStringName.str(), "ToString");
    EXPECT_EQ(toStringHelp.str(),
              "Returns a suitable text representation of this FileSignature (actually, its start-of-file sequence)");
    ComPtr<ITypeInfo> missing;
    EXPECT_EQ(signature->GetTypeInfo(1, 0, missing.Put()), DISP_E_BADINDEX);
}

} // namespace
} // namespace typhextest
