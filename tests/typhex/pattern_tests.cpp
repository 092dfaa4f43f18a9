// ByteValue and FileContent: the smallest units of a pattern and their stored form.
#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

class PatternTest : public LibraryTest {};

TEST_F(PatternTest, ByteValueKeepsValueAndDontCareExclusive) {
    auto value = NewByteValue();
    VARIANT_BOOL dontCare = 0;
    BYTE byte = 9;
    SHORT stored = 0;
    value->get_DontCare(&dontCare);
    value->get_Value(&byte);
    value->Serialise(&stored);
    EXPECT_EQ(dontCare, 1);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(stored, 256);

    value->put_Value(0x41);
    value->Serialise(&stored);
    EXPECT_EQ(stored, 0x41);
    value->put_DontCare(VARIANT_TRUE); // any non-zero value is true; reported as 1
    value->get_Value(&byte);
    value->get_DontCare(&dontCare);
    value->Serialise(&stored);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(dontCare, 1);
    EXPECT_EQ(stored, 256);
}

TEST_F(PatternTest, ByteValueDeserialiseReadsAnyHighByteAsDontCare) {
    auto value = NewByteValue();
    SHORT stored = 0;
    value->Deserialise(0x00FF);
    value->Serialise(&stored);
    EXPECT_EQ(stored, 255);
    value->Deserialise(0x01FF);
    value->Serialise(&stored);
    EXPECT_EQ(stored, 256);
    value->Deserialise(0x0100);
    value->Serialise(&stored);
    EXPECT_EQ(stored, 256);
}

ComPtr<IFileContent> ContentOf(LONG offset, std::initializer_list<int> entries) {
    ComPtr<IFileContent> content;
    EXPECT_EQ(CoCreateInstance(CLSID_FileContent, nullptr, CLSCTX_INPROC_SERVER, IID_IFileContent,
                               content.PutVoid()),
              S_OK);
    content->put_Offset(offset);
    for (int entry : entries) {
        ComPtr<IByteValue> value;
        CoCreateInstance(CLSID_ByteValue, nullptr, CLSCTX_INPROC_SERVER, IID_IByteValue, value.PutVoid());
        value->Deserialise(static_cast<SHORT>(entry));
        content->AddContent(value.Get());
    }
    return content;
}

TEST_F(PatternTest, EmptyContentSerialisesToNothing) {
    auto content = NewContent();
    VARIANT_BOOL exists = 1;
    content->get_ContentExists(&exists);
    EXPECT_EQ(exists, 0);
    Var bytes;
    ASSERT_EQ(content->Serialise(&bytes), S_OK);
    EXPECT_TRUE(BytesOf(bytes.get()).empty());
    EXPECT_EQ(ToText(content.Get()), "00000000:");
    Var array, ints;
    content->get_Content(&array);
    content->get_ContentAsInts(&ints);
    EXPECT_EQ(array.get().vt, VT_EMPTY);
    EXPECT_EQ(ints.get().vt, VT_EMPTY);
    EXPECT_EQ(content->AddContent(nullptr), S_OK);
}

TEST_F(PatternTest, ContentTextForms) {
    EXPECT_EQ(ToText(ContentOf(4, {0x66, 0x74, 0x79, 0x70}).Get()), "00000004:66747970");
    EXPECT_EQ(ToText(ContentOf(0x20, {0xFF, 256}).Get()), "00000020:FFxx");
    EXPECT_EQ(ToText(ContentOf(-1, {0x0A}).Get()), "FFFFFFFF:0A");
}

TEST_F(PatternTest, ContentRoundTrip) {
    auto content = ContentOf(8, {0x66, 256, 0x70});
    Var bytes;
    ASSERT_EQ(content->Serialise(&bytes), S_OK);
    EXPECT_EQ(BytesOf(bytes.get()), Hex("08000000 03 6600 0001 7000"));

    auto copy = NewContent();
    LONG start = 0;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(copy->Deserialise(bytes.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(start, 11);
    EXPECT_EQ(ToText(copy.Get()), "00000008:66xx70");

    Var ints;
    copy->get_ContentAsInts(&ints);
    ASSERT_EQ(ints.get().vt, VT_ARRAY | VT_INT);
    const INT* values = static_cast<const INT*>(ints.get().parray->pvData);
    EXPECT_EQ(values[0], 0x66);
    EXPECT_EQ(values[1], 256);
    EXPECT_EQ(values[2], 0x70);

    Var objects;
    copy->get_Content(&objects);
    ASSERT_EQ(objects.get().vt, VT_ARRAY | VT_DISPATCH);
    ASSERT_EQ(objects.get().parray->rgsabound[0].cElements, 3u);
    auto** slots = static_cast<IDispatch**>(objects.get().parray->pvData);
    ComPtr<IByteValue> second;
    ASSERT_EQ(slots[1]->QueryInterface(IID_IByteValue, second.PutVoid()), S_OK);
    VARIANT_BOOL dontCare = 0;
    second->get_DontCare(&dontCare);
    EXPECT_EQ(dontCare, 1);
}

TEST_F(PatternTest, ContentDeserialiseFailures) {
    auto content = ContentOf(3, {1});
    LONG start = 0;
    VARIANT_BOOL ok = 1;
    // Too short as a whole array, even at position 0.
    Var six;
    FillBytes(six, Hex("08000000 03 66"));
    ASSERT_EQ(content->Deserialise(six.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(ToText(content.Get()), "00000000:");

    // Cut inside the entries: the offset and the entries read so far stay.
    Var cut;
    FillBytes(cut, Hex("08000000 03 6600 0001 70"));
    ok = 1;
    ASSERT_EQ(content->Deserialise(cut.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(ToText(content.Get()), "00000008:66xx");

    // Not a byte array: refused, nothing changed.
    Var number;
    number.get().vt = VT_I4;
    number.get().lVal = 7;
    EXPECT_EQ(content->Deserialise(number.value(), &start, &ok), E_INVALIDARG);
    EXPECT_EQ(ToText(content.Get()), "00000008:66xx");
}

TEST_F(PatternTest, ContentReadsFromPositionAndNormalisesEntries) {
    // Stored entry 0x0200 comes back as 0x0100; the record starts at 3 in an
    // array whose lower bound is 10.
    Var bytes;
    FillBytes(bytes, Hex("AABBCC 10000000 02 0002 4100"), 10);
    auto content = NewContent();
    LONG start = 3;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(content->Deserialise(bytes.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(start, 12);
    Var out;
    content->Serialise(&out);
    EXPECT_EQ(BytesOf(out.get()), Hex("10000000 02 0001 4100"));
}

TEST_F(PatternTest, ContentRefusesA256thEntry) {
    auto content = NewContent();
    auto value = NewByteValue();
    value->put_Value(1);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(content->AddContent(value.Get()), S_OK);
    EXPECT_EQ(content->AddContent(value.Get()), E_FAIL);
    Var bytes;
    content->Serialise(&bytes);
    EXPECT_EQ(BytesOf(bytes.get()).size(), 5u + 2 * 255);
}

} // namespace
} // namespace typhextest
