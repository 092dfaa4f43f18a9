// FileSignature: editing, the start, content and end tests, and its record.
#include "TyphexTestSupport.h"

#include "platform/oleauto.h"

namespace typhextest {
namespace {

class SignatureTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        set_ = NewSet(); // for SectorSize
    }
    ComPtr<IFileSignature> JpegEnd() {
        auto signature = SignatureWithStart("FFD8FF");
        Var end;
        FillPattern(end, {0xFF, 0xD9});
        EXPECT_EQ(signature->AddEndSequence(end.value()), S_OK);
        set_->put_SectorSize(512);
        return signature;
    }
    ComPtr<ISupportedFileTypes> set_;
};

struct EndResult {
    VARIANT_BOOL match = 7;
    LONG endPoint = -99;
};

EndResult End(IFileSignature* signature, std::vector<BYTE>& buffer, LONG startAt = 0, LONG offset = 0) {
    platform::BorrowedByteArray array(buffer.data(), static_cast<ULONG>(buffer.size()));
    EndResult result;
    EXPECT_EQ(signature->MatchesEnd(array.ByRefVariant(), startAt, offset, &result.endPoint, &result.match), S_OK);
    return result;
}

TEST_F(SignatureTest, EndFoundWhenItsSectorTailIsZero) {
    auto signature = JpegEnd();
    std::vector<BYTE> buffer(1024, 0x55);
    for (int i = 0; i < 100; ++i) buffer[i] = 0x10;
    buffer[100] = 0xFF;
    buffer[101] = 0xD9;
    std::fill(buffer.begin() + 102, buffer.begin() + 512, 0);
    EndResult found = End(signature.Get(), buffer);
    EXPECT_EQ(found.match, 1);
    EXPECT_EQ(found.endPoint, 101);

    buffer[300] = 1; // not padding: rejected, but the end point is still reported
    EndResult rejected = End(signature.Get(), buffer);
    EXPECT_EQ(rejected.match, 0);
    EXPECT_EQ(rejected.endPoint, 101);
}

TEST_F(SignatureTest, EndOnASectorBoundaryNeedsNoPadding) {
    auto signature = JpegEnd();
    std::vector<BYTE> buffer(1024, 0x55);
    buffer[510] = 0xFF;
    buffer[511] = 0xD9;
    EndResult found = End(signature.Get(), buffer);
    EXPECT_EQ(found.match, 1);
    EXPECT_EQ(found.endPoint, 511);

    // Counted from the file's first byte: the same bytes, 12 bytes into a
    // file that began before this buffer, no longer end on the boundary.
    EndResult shifted = End(signature.Get(), buffer, 0, 12);
    EXPECT_EQ(shifted.match, 0);
}

TEST_F(SignatureTest, EndNotFoundInTheLastBytesOfTheWindow) {
    auto signature = JpegEnd();
    // The window is one sector from lngStartAt; a pattern starting at its
    // last byte is not found there.
    std::vector<BYTE> buffer(1024, 0);
    buffer[511] = 0xFF;
    buffer[512] = 0xD9;
    EXPECT_EQ(End(signature.Get(), buffer).match, 0);
    // The next call, one sector on, starts past it: not found either.
    EXPECT_EQ(End(signature.Get(), buffer, 512, 512).match, 0);
    // The window also stops L bytes short of the buffer's end.
    std::vector<BYTE> tail(100, 0);
    tail[98] = 0xFF;
    tail[99] = 0xD9;
    EXPECT_EQ(End(signature.Get(), tail).match, 0);
}

TEST_F(SignatureTest, FixedLengthEnd) {
    auto signature = NewSignature();
    signature->put_FixedLength(1);
    signature->put_FileSize(2048);
    std::vector<BYTE> buffer(1024, 0xAB);
    EXPECT_EQ(End(signature.Get(), buffer, 0, 1024).match, 1);
    EXPECT_EQ(End(signature.Get(), buffer, 1, 1024).match, 0); // 2047 bytes of the file so far
    EndResult fixed = End(signature.Get(), buffer, 0, 5000);
    EXPECT_EQ(fixed.match, 1);
    EXPECT_EQ(fixed.endPoint, -99); // not written by the size test
    signature->put_FileSize(-1);
    EXPECT_EQ(End(signature.Get(), buffer, 0, 100000).match, 0);
}

TEST_F(SignatureTest, MatchingRefusesWhatIsNoByteArray) {
    auto signature = JpegEnd();
    Var text;
    text.get().vt = VT_BSTR;
    text.get().bstrVal = SysAllocString(u"FFD8");
    VARIANT_BOOL match = 5;
    LONG endPoint = 0;
    EXPECT_EQ(signature->MatchesStart(text.value(), 0, &match), E_INVALIDARG);
    EXPECT_EQ(match, 0);
    match = 5;
    EXPECT_EQ(signature->MatchesEnd(text.value(), 0, 0, &endPoint, &match), E_INVALIDARG);
    EXPECT_EQ(match, 5);
    EXPECT_EQ(signature->MatchesContent(text.value(), 0, 0, &match), E_INVALIDARG);
    EXPECT_EQ(match, 5);
}

TEST_F(SignatureTest, StartMatching) {
    auto signature = SignatureWithStart("52494646xxxxxxxx57415645");
    EXPECT_EQ(ToText(signature.Get()), "52494646xxxxxxxx57415645");
    Var bytes;
    FillBytes(bytes, Hex("00 52494646 12345678 57415645"), -3); // lower bound does not matter
    VARIANT_BOOL match = 0;
    signature->MatchesStart(bytes.value(), 1, &match);
    EXPECT_EQ(match, 1);
    signature->MatchesStart(bytes.value(), 0, &match);
    EXPECT_EQ(match, 0);
    Var shortBytes;
    FillBytes(shortBytes, Hex("52494646 12345678 574156"));
    signature->MatchesStart(shortBytes.value(), 0, &match);
    EXPECT_EQ(match, 0);

    auto empty = NewSignature();
    for (LONG at : {0, 5, 13}) {
        empty->MatchesStart(bytes.value(), at, &match);
        EXPECT_EQ(match, 1) << at;
    }
    empty->MatchesStart(bytes.value(), 14, &match);
    EXPECT_EQ(match, 0);
}

TEST_F(SignatureTest, StartSequenceEditing) {
    auto signature = NewSignature();
    Var none;
    signature->get_StartSequence(&none);
    ASSERT_EQ(none.get().vt, VT_ARRAY | VT_DISPATCH); // an array of no elements, not empty
    EXPECT_EQ(none.get().parray->rgsabound[0].cElements, 0u);

    Var number;
    number.get().vt = VT_I4;
    EXPECT_EQ(signature->put_StartSequence(number.value()), E_INVALIDARG);

    // Null elements are skipped.
    Var pattern;
    FillPattern(pattern, {0x47, 0x49, 0x46});
    auto** slots = static_cast<IDispatch**>(pattern.get().parray->pvData);
    slots[1]->Release();
    slots[1] = nullptr;
    ASSERT_EQ(signature->put_StartSequence(pattern.value()), S_OK);
    EXPECT_EQ(ToText(signature.Get()), "4746");
}

TEST_F(SignatureTest, EndSequenceEditing) {
    auto signature = NewSignature();
    Var first, second, again, out;
    FillPattern(first, {0xFF, 0xD9});
    FillPattern(second, {0x00, 256, 0x3B});
    FillPattern(again, {0xFF, 0xD9});
    signature->AddEndSequence(first.value());
    signature->AddEndSequence(second.value());
    signature->AddEndSequence(again.value()); // equal text: one copy, now last
    BYTE count = 0;
    signature->get_EndSequenceCount(&count);
    EXPECT_EQ(count, 2);
    Text text0, text1, text2, text3;
    signature->EndToString(1, &text1);
    signature->EndToString(2, &text2);
    signature->EndToString(0, &text0);
    signature->EndToString(3, &text3);
    EXPECT_EQ(text1.str(), "00xx3B");
    EXPECT_EQ(text2.str(), "FFD9");
    EXPECT_EQ(text0.str(), "00xx3B");
    EXPECT_EQ(text3.str(), "00xx3B");

    signature->get_EndSequence(0, &out);
    EXPECT_EQ(out.get().vt, VT_EMPTY);
    signature->get_EndSequence(3, &out);
    EXPECT_EQ(out.get().vt, VT_EMPTY);
    signature->get_EndSequence(2, &out);
    ASSERT_EQ(out.get().vt, VT_ARRAY | VT_DISPATCH);
    EXPECT_EQ(out.get().parray->rgsabound[0].cElements, 2u);

    signature->RemoveEndSequence(second.value());
    signature->get_EndSequenceCount(&count);
    EXPECT_EQ(count, 1);
    Var number;
    number.get().vt = VT_I2;
    EXPECT_EQ(signature->AddEndSequence(number.value()), E_INVALIDARG);
    EXPECT_EQ(signature->RemoveEndSequence(number.value()), E_INVALIDARG);

    auto empty = NewSignature();
    Text none;
    empty->EndToString(1, &none);
    EXPECT_EQ(none.str(), "");
}

TEST_F(SignatureTest, ContentsHeldByReferenceAndIdentifiedByText) {
    auto signature = NewSignature();
    auto content = NewContent();
    auto value = NewByteValue();
    value->put_Value(0x66);
    content->put_Offset(4);
    content->AddContent(value.Get());
    signature->AddContent(content.Get());
    signature->AddContent(content.Get());
    auto twin = NewContent(); // another object, same text
    twin->put_Offset(4);
    twin->AddContent(value.Get());
    signature->AddContent(twin.Get());

    Var contents;
    signature->get_Content(&contents);
    ASSERT_EQ(contents.get().vt, VT_ARRAY | VT_DISPATCH);
    ASSERT_EQ(contents.get().parray->rgsabound[0].cElements, 1u);
    auto** slots = static_cast<IDispatch**>(contents.get().parray->pvData);
    EXPECT_EQ(slots[0], static_cast<IDispatch*>(twin.Get())); // the object itself, not a copy

    signature->RemoveContent(content.Get());
    Var none;
    signature->get_Content(&none);
    EXPECT_EQ(none.get().vt, VT_EMPTY);
    EXPECT_EQ(signature->RemoveContent(nullptr), S_OK);
}

TEST_F(SignatureTest, MatchesContentAtFileOffsets) {
    auto signature = NewSignature();
    auto content = NewContent();
    content->put_Offset(8);
    for (int entry : {0x57, 256, 0x56}) {
        auto value = NewByteValue();
        value->Deserialise(static_cast<SHORT>(entry));
        content->AddContent(value.Get());
    }
    signature->AddContent(content.Get());
    Var bytes;
    FillBytes(bytes, Hex("00000000 00000000 57 41 56 45"));
    VARIANT_BOOL match = 0;
    signature->MatchesContent(bytes.value(), 0, 0, &match);
    EXPECT_EQ(match, 1);
    // Buffer index 4 holds file offset 4: the content lies at index 8 still.
    signature->MatchesContent(bytes.value(), 4, 4, &match);
    EXPECT_EQ(match, 1);
    // Buffer index 2 holds file offset 0: the content would be at 10.
    signature->MatchesContent(bytes.value(), 2, 0, &match);
    EXPECT_EQ(match, 0);
    EXPECT_EQ(NewSignature()->MatchesContent(bytes.value(), 0, 0, &match), S_OK);
    EXPECT_EQ(match, 0);
}

TEST_F(SignatureTest, ConstructionResetsTheSharedSectorSize) {
    set_->put_SectorSize(4096);
    LONG size = 0;
    set_->get_SectorSize(&size);
    EXPECT_EQ(size, 4096);
    auto signature = NewSignature();
    set_->get_SectorSize(&size);
    EXPECT_EQ(size, 512);
}

TEST_F(SignatureTest, RecordRoundTrip) {
    auto signature = SignatureWithStart("FFD8FFxx");
    signature->put_FixedLength(1);
    signature->put_FileSize(70000);
    auto content = NewContent();
    content->put_Offset(6);
    auto value = NewByteValue();
    value->put_Value(0x4A);
    content->AddContent(value.Get());
    signature->AddContent(content.Get());
    signature->AddContent(NewContent().Get()); // no entries: not stored, not counted
    Var end;
    FillPattern(end, {0xFF, 0xD9});
    signature->AddEndSequence(end.value());

    Var bytes;
    ASSERT_EQ(signature->Serialise(&bytes), S_OK);
    const std::vector<BYTE> expected =
        Hex("01 70110100 04 FF00 D800 FF00 0001 01 06000000 01 4A00 01 02 FF00 D900");
    EXPECT_EQ(BytesOf(bytes.get()), expected);

    auto copy = NewSignature();
    LONG start = 0;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(copy->Deserialise(bytes.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(start, static_cast<LONG>(expected.size()));
    Var again;
    copy->Serialise(&again);
    EXPECT_EQ(BytesOf(again.get()), expected);
}

TEST_F(SignatureTest, RecordReadingFailures) {
    // The smallest record: a fixed-length signature of 4096 bytes, no patterns.
    Var smallest;
    FillBytes(smallest, Hex("01 00100000 00 00 00"));
    auto signature = NewSignature();
    LONG start = 0;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(signature->Deserialise(smallest.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(start, 8);
    LONG size = 0;
    VARIANT_BOOL fixed = 0;
    signature->get_FileSize(&size);
    signature->get_FixedLength(&fixed);
    EXPECT_EQ(size, 4096);
    EXPECT_EQ(fixed, 1);

    // Cut after the start pattern: fails and leaves the signature empty.
    Var cut;
    FillBytes(cut, Hex("01 00100000 02 4100 4200"));
    start = 0;
    ASSERT_EQ(signature->Deserialise(cut.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(ToText(signature.Get()), "");
    signature->get_FixedLength(&fixed);
    EXPECT_EQ(fixed, 0);

    // A content record that does not read fails the signature.
    Var badContent;
    FillBytes(badContent, Hex("00 00000000 01 4100 01 04000000 05 6600"));
    ASSERT_EQ(signature->Deserialise(badContent.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    Var contents;
    signature->get_Content(&contents);
    EXPECT_EQ(contents.get().vt, VT_EMPTY);

    // Not a byte array: E_INVALIDARG, and the signature is cleared.
    auto held = SignatureWithStart("AABB");
    Var number;
    number.get().vt = VT_I4;
    EXPECT_EQ(held->Deserialise(number.value(), &start, &ok), E_INVALIDARG);
    EXPECT_EQ(ToText(held.Get()), "");
}

} // namespace
} // namespace typhextest
