// The set record and the database file: loading, saving and their failures.
#include <fstream>

#include "TyphexTestSupport.h"

namespace typhextest {
namespace {

class DatabaseTest : public LibraryTest {
protected:
    std::string PathFor(const std::string& name) { return (PrivateFolder() / name).string(); }
    std::string WriteFile(const std::string& name, const std::vector<BYTE>& bytes) {
        const std::string path = PathFor(name);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static std::vector<BYTE> ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
    }
    static VARIANT_BOOL Load(ISupportedFileTypes* set, const std::string& path) {
        Text name(path.c_str());
        VARIANT_BOOL ok = 7;
        EXPECT_EQ(set->LoadFromFile(name.get(), &ok), S_OK);
        return ok;
    }
    static LONG Count(ISupportedFileTypes* set) {
        LONG count = -1;
        set->get_ItemCount(&count);
        return count;
    }
    static std::vector<BYTE> Serialised(ISupportedFileTypes* set) {
        Var bytes;
        EXPECT_EQ(set->Serialise(&bytes), S_OK);
        return BytesOf(bytes.get());
    }
    // Two types, the second not searched for.
    std::vector<BYTE> TwoTypes() {
        auto set = NewSet();
        set->AddFileType(TypeWith("JPG", {"FFD8FF"}).Get());
        set->AddFileType(TypeWith("TMP", {"0102"}, false).Get());
        return Serialised(set.Get());
    }
};

TEST_F(DatabaseTest, EmptySetRecordLoadsAndAddsNothing) {
    auto set = NewSet();
    set->AddFileType(TypeWith("JPG", {"FFD8FF"}).Get());
    EXPECT_EQ(Load(set.Get(), WriteFile("empty.zq4", {0, 0})), 1);
    EXPECT_EQ(Count(set.Get()), 1);
}

TEST_F(DatabaseTest, EditModeDecidesWhetherUnsearchedTypesAreKept) {
    const std::string path = WriteFile("two.zq4", TwoTypes());
    auto searching = NewSet();
    EXPECT_EQ(Load(searching.Get(), path), 1);
    EXPECT_EQ(Count(searching.Get()), 1);
    auto editing = NewSet();
    editing->put_EditMode(1);
    EXPECT_EQ(Load(editing.Get(), path), 1);
    EXPECT_EQ(Count(editing.Get()), 2);
    // Loading again keeps one type per extension.
    EXPECT_EQ(Load(editing.Get(), path), 1);
    EXPECT_EQ(Count(editing.Get()), 2);
}

TEST_F(DatabaseTest, SetRoundTripIsExact) {
    auto set = NewSet();
    set->put_EditMode(1);
    Var bytes;
    const std::vector<BYTE> original = TwoTypes();
    FillBytes(bytes, original);
    LONG start = 0;
    VARIANT_BOOL ok = 0;
    ASSERT_EQ(set->Deserialise(bytes.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(start, static_cast<LONG>(original.size()));
    EXPECT_EQ(Serialised(set.Get()), original);
}

TEST_F(DatabaseTest, BytesAfterTheRecordAreIgnored) {
    std::vector<BYTE> bytes = TwoTypes();
    bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    auto set = NewSet();
    EXPECT_EQ(Load(set.Get(), WriteFile("trailing.zq4", bytes)), 1);
    EXPECT_EQ(Count(set.Get()), 1);
}

TEST_F(DatabaseTest, DamagedDataEmptiesTheSetAndKeepsThePosition) {
    std::vector<BYTE> bytes = TwoTypes();
    bytes.resize(bytes.size() - 3);
    auto set = NewSet();
    set->AddFileType(TypeWith("PNG", {"8950"}).Get());
    Var data;
    FillBytes(data, bytes);
    LONG start = 0;
    VARIANT_BOOL ok = 1;
    ASSERT_EQ(set->Deserialise(data.value(), &start, &ok), S_OK);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(Count(set.Get()), 0);

    set->AddFileType(TypeWith("PNG", {"8950"}).Get());
    EXPECT_EQ(Load(set.Get(), WriteFile("zero.zq4", {})), 0); // an empty file fails and empties
    EXPECT_EQ(Count(set.Get()), 0);

    Var number;
    number.get().vt = VT_R8;
    set->AddFileType(TypeWith("PNG", {"8950"}).Get());
    EXPECT_EQ(set->Deserialise(number.value(), &start, &ok), E_INVALIDARG);
    EXPECT_EQ(Count(set.Get()), 1);
}

TEST_F(DatabaseTest, MissingFileLeavesTheSetAlone) {
    auto set = NewSet();
    set->AddFileType(TypeWith("PNG", {"8950"}).Get());
    EXPECT_EQ(Load(set.Get(), PathFor("no-such-file.zq4")), 0);
    EXPECT_EQ(Count(set.Get()), 1);
}

TEST_F(DatabaseTest, SaveWithoutNameWritesBackToTheLoadedFile) {
    auto set = NewSet();
    VARIANT_BOOL ok = 7;
    Text empty("");
    EXPECT_EQ(set->SaveToFile(empty.get(), &ok), S_OK);
    EXPECT_EQ(ok, 0); // no name and nothing loaded: nothing written

    const std::string path = WriteFile("saved.zq4", TwoTypes());
    set->put_EditMode(1);
    ASSERT_EQ(Load(set.Get(), path), 1);
    set->RemoveFileType(TypeWith("TMP", {}).Get());
    EXPECT_EQ(set->SaveToFile(empty.get(), &ok), S_OK);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(ReadFile(path), Serialised(set.Get()));
}

TEST_F(DatabaseTest, SaveReportsAFileThatCannotBeWritten) {
    auto set = NewSet();
    set->AddFileType(TypeWith("JPG", {"FFD8FF"}).Get());
    VARIANT_BOOL ok = 1;
    Text full("/dev/full");
    EXPECT_EQ(set->SaveToFile(full.get(), &ok), S_OK);
    EXPECT_EQ(ok, 0);
    Text folder(PrivateFolder().c_str());
    EXPECT_EQ(set->SaveToFile(folder.get(), &ok), S_OK);
    EXPECT_EQ(ok, 0);
}

TEST_F(DatabaseTest, PrintableTextSurvivesTheStoredForm) {
    std::string printable;
    for (int c = 0x20; c < 0x7F; ++c) printable += static_cast<char>(c);
    printable += "äöüßé£©";
    auto set = NewSet();
    auto type = TypeWith("JPG", {"FFD8FF"});
    Text description(printable.c_str());
    type->put_Description(description.get());
    set->AddFileType(type.Get());
    const std::string path = PathFor("text.zq4");
    Text name(path.c_str());
    VARIANT_BOOL ok = 0;
    set->SaveToFile(name.get(), &ok);
    ASSERT_EQ(ok, 1);
    auto loaded = NewSet();
    ASSERT_EQ(Load(loaded.Get(), path), 1);
    ComPtr<ISupportedFileType> back;
    loaded->get_FileType(0, back.Put());
    Text text;
    back->get_Description(&text);
    EXPECT_EQ(text.str(), printable);
}

} // namespace
} // namespace typhextest
