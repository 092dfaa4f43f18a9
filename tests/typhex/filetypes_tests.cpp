// SupportedFileType and SupportedFileTypes: identity, editing and the search
// for a file start.
#include "TyphexTestSupport.h"

#include <sys/resource.h>

#include <cstdio>
#include <random>

namespace typhextest {
namespace {

class FileTypesTest : public LibraryTest {};

std::string Extension(ISupportedFileType* type) {
    Text text;
    type->get_FileExtension(&text);
    return text.str();
}

struct Found {
    VARIANT_BOOL match = 0;
    HRESULT hr = S_OK;
    std::string extension;
    std::string signature;
};

Found Find(ISupportedFileTypes* set, std::vector<BYTE> bytes, LONG at = 0) {
    platform::BorrowedByteArray array(bytes.data(), static_cast<ULONG>(bytes.size()));
    IFileSignature* signature = nullptr;
    Text extension("keep");
    Found found;
    found.hr = set->FindMatchingStart(array.ByRefVariant(), at, &signature, &extension, &found.match);
    found.extension = extension.str();
    if (signature) {
        found.signature = ToText(signature);
        signature->Release();
    }
    return found;
}

TEST_F(FileTypesTest, ExtensionIsThreeCharacters) {
    auto type = NewType();
    EXPECT_EQ(Extension(type.Get()), "");
    Text jp("jp"), jpeg("jpeg"), empty("");
    type->put_FileExtension(jp.get());
    EXPECT_EQ(Extension(type.Get()), "jp ");
    type->put_FileExtension(jpeg.get());
    EXPECT_EQ(Extension(type.Get()), "jpe");
    type->put_FileExtension(nullptr);
    EXPECT_EQ(Extension(type.Get()), "jpe");
    type->put_FileExtension(empty.get());
    EXPECT_EQ(Extension(type.Get()), "   ");
}

TEST_F(FileTypesTest, CategoryOutsideOneToFourIsFour) {
    auto type = NewType();
    SHORT category = 0;
    type->get_FileType(&category);
    EXPECT_EQ(category, 4);
    for (SHORT value : {0, 5, -1}) {
        type->put_FileType(2);
        type->put_FileType(value);
        type->get_FileType(&category);
        EXPECT_EQ(category, 4) << value;
    }
    type->put_FileType(2);
    type->get_FileType(&category);
    EXPECT_EQ(category, 2);
}

TEST_F(FileTypesTest, SignaturesIdentifiedByStartPattern) {
    auto type = TypeWith("JPG", {"FFD8FF", "FFD8FFE1"});
    type->AddSignature(SignatureWithStart("FFD8FF").Get()); // replaces the first, now last
    Var signatures;
    type->get_Signature(&signatures);
    ASSERT_EQ(signatures.get().vt, VT_ARRAY | VT_DISPATCH);
    ASSERT_EQ(signatures.get().parray->rgsabound[0].cElements, 2u);
    auto** slots = static_cast<IDispatch**>(signatures.get().parray->pvData);
    ComPtr<IFileSignature> first;
    slots[0]->QueryInterface(IID_IFileSignature, first.PutVoid());
    EXPECT_EQ(ToText(first.Get()), "FFD8FFE1");
    type->RemoveSignature(first.Get());
    type->RemoveSignature(SignatureWithStart("FFD8FF").Get());
    VARIANT_BOOL has = 1;
    type->get_HasSignature(&has);
    EXPECT_EQ(has, 0);
    Var none;
    type->get_Signature(&none);
    EXPECT_EQ(none.get().vt, VT_EMPTY);
}

TEST_F(FileTypesTest, TypesIdentifiedByExtensionAndReaddedAtTheEnd) {
    auto set = NewSet();
    auto first = TypeWith("JPG", {"FFD8FF"});
    auto png = TypeWith("PNG", {"89504E47"});
    auto second = TypeWith("JPG", {"FFD8"});
    set->AddFileType(first.Get());
    set->AddFileType(png.Get());
    set->AddFileType(second.Get());
    LONG count = 0;
    set->get_ItemCount(&count);
    ASSERT_EQ(count, 2);
    ComPtr<ISupportedFileType> at0, at1, outside;
    set->get_FileType(0, at0.Put());
    set->get_FileType(1, at1.Put());
    EXPECT_EQ(at0.Get(), png.Get());
    EXPECT_EQ(at1.Get(), second.Get());
    EXPECT_EQ(set->get_FileType(-1, outside.Put()), S_OK);
    EXPECT_FALSE(outside);
    EXPECT_EQ(set->get_FileType(2, outside.Put()), S_OK);
    EXPECT_FALSE(outside);
    EXPECT_EQ(set->AddFileType(nullptr), S_OK);
    set->RemoveFileType(TypeWith("PNG", {}).Get());
    set->get_ItemCount(&count);
    EXPECT_EQ(count, 1);
}

TEST_F(FileTypesTest, FirstTypeInListOrderWinsThenFirstSignature) {
    auto set = NewSet();
    set->AddFileType(TypeWith("TIF", {"4949xx00", "49492A00"}).Get());
    set->AddFileType(TypeWith("CR2", {"49492A0010"}).Get());
    Found tiff = Find(set.Get(), Hex("49492A00 10000000 4352"));
    EXPECT_EQ(tiff.match, 1);
    EXPECT_EQ(tiff.extension, "TIF");
    EXPECT_EQ(tiff.signature, "4949xx00");

    set->AddFileType(TypeWith("TIF", {"49492A00"}).Get()); // moves TIF after CR2
    Found raw = Find(set.Get(), Hex("49492A00 10000000 4352"));
    EXPECT_EQ(raw.extension, "CR2");
    EXPECT_EQ(raw.signature, "49492A0010");
}

TEST_F(FileTypesTest, ShortExtensionComesBackPadded) {
    auto set = NewSet();
    set->AddFileType(TypeWith("gz", {"1F8B"}).Get());
    Found found = Find(set.Get(), Hex("00 1F8B 08"), 1);
    EXPECT_EQ(found.match, 1);
    EXPECT_EQ(found.extension, "gz ");
}

TEST_F(FileTypesTest, NoMatchLeavesTheCallersValues) {
    auto set = NewSet();
    Found empty = Find(set.Get(), Hex("FFD8FF"));
    EXPECT_EQ(empty.match, 0);
    EXPECT_EQ(empty.extension, "keep");
    EXPECT_EQ(empty.signature, "");

    set->AddFileType(TypeWith("NUL", {}).Get()); // a type without signatures never matches
    set->AddFileType(TypeWith("JPG", {"FFD8FF"}).Get());
    Found none = Find(set.Get(), Hex("FFD8FE"));
    EXPECT_EQ(none.match, 0);
    EXPECT_EQ(none.extension, "keep");
    Found past = Find(set.Get(), Hex("FFD8FF"), 1);
    EXPECT_EQ(past.match, 0);
}

TEST_F(FileTypesTest, SearchPositionsEverywhereInTheBuffer) {
    auto set = NewSet();
    set->AddFileType(TypeWith("ANY", {"xxD8"}).Get());
    set->AddFileType(TypeWith("EMP", {""}).Get());
    EXPECT_EQ(Find(set.Get(), Hex("00D8"), 0).extension, "ANY");
    EXPECT_EQ(Find(set.Get(), Hex("00D8"), 1).extension, "EMP"); // too short for ANY
    EXPECT_EQ(Find(set.Get(), Hex("00D8"), 2).extension, "EMP"); // an empty pattern matches at the end
    EXPECT_EQ(Find(set.Get(), Hex("00D8"), 3).match, 0);
    EXPECT_EQ(Find(set.Get(), Hex("00D8"), -4).extension, "EMP");
}

TEST_F(FileTypesTest, ListOrderHoldsBetweenPatternsWithAndWithoutAFirstByte) {
    const std::vector<BYTE> box = Hex("00000018 66747970 6D703432 00000000 00000000");
    auto genericFirst = NewSet();
    genericFirst->AddFileType(TypeWith("ISO", {"xxxxxxxx66747970"}).Get());
    genericFirst->AddFileType(TypeWith("MP4", {"00000018667479706D7034"}).Get());
    EXPECT_EQ(Find(genericFirst.Get(), box).extension, "ISO");
    auto specificFirst = NewSet();
    specificFirst->AddFileType(TypeWith("MP4", {"00000018667479706D7034"}).Get());
    specificFirst->AddFileType(TypeWith("ISO", {"xxxxxxxx66747970"}).Get());
    EXPECT_EQ(Find(specificFirst.Get(), box).extension, "MP4");
    EXPECT_EQ(Find(specificFirst.Get(), Hex("00000020 66747970 71742020 0000")).extension, "ISO");
    EXPECT_EQ(Find(specificFirst.Get(), Hex("00000018 66757970 6D703432 0000")).match, 0);
}

// The answer is always the one a plain search in list order gives, for
// patterns with and without literal bytes at the indexed places.
TEST_F(FileTypesTest, SearchAgreesWithAPlainListOrderSearch) {
    std::mt19937 random(7);
    const char* alphabet[] = {"00", "FF", "D8", "xx"};
    auto set = NewSet();
    std::vector<ComPtr<ISupportedFileType>> types;
    for (int t = 0; t < 40; ++t) {
        std::string pattern;
        for (std::size_t n = random() % 8; n > 0; --n) pattern += alphabet[random() % 4];
        char extension[4];
        std::snprintf(extension, sizeof extension, "%03d", t);
        types.push_back(TypeWith(extension, {pattern.c_str()}));
        set->AddFileType(types.back().Get());
    }
    for (int round = 0; round < 400; ++round) {
        std::vector<BYTE> bytes(random() % 10);
        for (BYTE& b : bytes) b = static_cast<BYTE>(std::stoul(alphabet[random() % 3], nullptr, 16));
        const LONG at = static_cast<LONG>(random() % (bytes.size() + 2));
        std::string expected = "keep";
        Var data;
        FillBytes(data, bytes);
        for (const auto& type : types) {
            IFileSignature* signature = nullptr;
            VARIANT_BOOL match = 0;
            type->MatchesAtStart(data.value(), at, &signature, &match);
            if (signature) signature->Release();
            if (match) {
                expected = Extension(type.Get());
                break;
            }
        }
        EXPECT_EQ(Find(set.Get(), bytes, at).extension, expected) << round;
    }
}

// Signatures that do not name both indexed bytes are not spread over the
// 65,536 keys of the index: memory grows with their number only.
TEST_F(FileTypesTest, SignaturesWithoutIndexedBytesKeepTheSearchSmall) {
    auto set = NewSet();
    for (int t = 0; t < 200; ++t) {
        char pattern[16];
        std::snprintf(pattern, sizeof pattern, t % 2 ? "xx%02X" : "%02XD8", t);
        char extension[4];
        std::snprintf(extension, sizeof extension, "%03d", t);
        set->AddFileType(TypeWith(extension, {pattern}).Get());
    }
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(Find(set.Get(), Hex("0077 0000 00")).extension, "119"); // xx77
    EXPECT_EQ(Find(set.Get(), Hex("50D8 0000 00")).extension, "080");
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB";
}

TEST_F(FileTypesTest, SearchFollowsEditsOfHeldSignatures) {
    auto set = NewSet();
    auto type = TypeWith("JPG", {"FFD8FF"});
    set->AddFileType(type.Get());
    EXPECT_EQ(Find(set.Get(), Hex("FFD8FF")).match, 1);

    Var signatures;
    type->get_Signature(&signatures);
    ComPtr<IFileSignature> held;
    static_cast<IDispatch**>(signatures.get().parray->pvData)[0]->QueryInterface(IID_IFileSignature, held.PutVoid());
    Var pattern;
    FillPattern(pattern, {0x89, 0x50});
    held->put_StartSequence(pattern.value());
    EXPECT_EQ(Find(set.Get(), Hex("FFD8FF")).match, 0);
    EXPECT_EQ(Find(set.Get(), Hex("8950")).extension, "JPG");

    type->AddSignature(SignatureWithStart("FFD8").Get());
    EXPECT_EQ(Find(set.Get(), Hex("FFD8FF")).signature, "FFD8");
    set->RemoveFileType(type.Get());
    EXPECT_EQ(Find(set.Get(), Hex("FFD8FF")).match, 0);
}

TEST_F(FileTypesTest, SearchRefusesWhatIsNoByteArrayOnceThereIsASignature) {
    auto set = NewSet();
    Var number;
    number.get().vt = VT_I4;
    IFileSignature* signature = nullptr;
    BSTR extension = nullptr;
    VARIANT_BOOL match = 3;
    EXPECT_EQ(set->FindMatchingStart(number.value(), 0, &signature, &extension, &match), S_OK);
    EXPECT_EQ(match, 0);
    set->AddFileType(TypeWith("JPG", {"FFD8FF"}).Get());
    EXPECT_EQ(set->FindMatchingStart(number.value(), 0, &signature, &extension, &match), E_INVALIDARG);
    EXPECT_EQ(signature, nullptr);
}

TEST_F(FileTypesTest, MatchesAtStartReplacesTheCallersSignature) {
    auto type = TypeWith("GIF", {"474946383961", "474946383761"});
    Var bytes;
    FillBytes(bytes, Hex("474946383761 0100"));
    ComPtr<IFileSignature> previous = SignatureWithStart("00");
    IFileSignature* signature = previous.Get();
    signature->AddRef();
    VARIANT_BOOL match = 0;
    ASSERT_EQ(type->MatchesAtStart(bytes.value(), 0, &signature, &match), S_OK);
    EXPECT_EQ(match, 1);
    EXPECT_EQ(ToText(signature), "474946383761");
    signature->Release();
}

TEST_F(FileTypesTest, TypeRecordRoundTripAndFlags) {
    auto type = TypeWith("JPG", {"FFD8FF"});
    Text description("Photo é");
    type->put_Description(description.get());
    type->put_FileType(3);
    Var bytes;
    ASSERT_EQ(type->Serialise(&bytes), S_OK);
    const std::vector<BYTE> stored = BytesOf(bytes.get());
    // Extension and description shifted down by 5, then the end byte and the flags.
    ASSERT_GE(stored.size(), 14u);
    EXPECT_EQ(stored[0], 'J' - 5);
    EXPECT_EQ(stored[3], 'P' - 5);
    EXPECT_EQ(stored[9], 0xE9 - 5);
    EXPECT_EQ(stored[10], 0);
    EXPECT_EQ(stored[11], 0x83);
    EXPECT_EQ(stored[12], 1);

    auto copy = NewType();
    LONG start = 0;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(copy->Deserialise(bytes.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    Text back;
    copy->get_Description(&back);
    EXPECT_EQ(back.str(), "Photo é");
    EXPECT_EQ(Extension(copy.Get()), "JPG");

    // A record cut inside its signature: the type is cleared.
    Var cut;
    FillBytes(cut, std::vector<BYTE>(stored.begin(), stored.end() - 2));
    start = 0;
    ASSERT_EQ(copy->Deserialise(cut.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(Extension(copy.Get()), "");
    SHORT category = 0;
    copy->get_FileType(&category);
    EXPECT_EQ(category, 4);
}

} // namespace
} // namespace typhextest
