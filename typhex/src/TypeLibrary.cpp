#include "TypeLibrary.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "DispatchArguments.h"

namespace typhex {
namespace {

using dispatch::Call;
using K = MemberKind;

// clang-format off
const MemberDescription ByteValueMembers[] = {
    {"DontCare", 1, K::PropertyGet, "b", "pVal", Call<&IByteValue::get_DontCare>, "Sets/returns a flag indicating that the value of this ByteValue doesn't matter (setting it clears Value)"},
    {"DontCare", 1, K::PropertyPut, "b", "newVal", Call<&IByteValue::put_DontCare>, "Sets/returns a flag indicating that the value of this ByteValue doesn't matter (setting it clears Value)"},
    {"Value", 2, K::PropertyGet, "y", "pVal", Call<&IByteValue::get_Value>, "Sets/returns the byte value of this ByteValue (setting it clears DontCare)"},
    {"Value", 2, K::PropertyPut, "y", "newVal", Call<&IByteValue::put_Value>, "Sets/returns the byte value of this ByteValue (setting it clears DontCare)"},
    {"Serialise", 3, K::MethodWithResult, "i", "pVal", Call<&IByteValue::Serialise>, "Returns a serialised form of this ByteValue: 256 if its value doesn't matter, otherwise the byte value"},
    {"Deserialise", 4, K::Method, "i", "intValue", Call<&IByteValue::Deserialise>, "Sets this ByteValue from a serialised form of a ByteValue. Any value above 255 means that its value doesn't matter"},
};

const MemberDescription FileContentMembers[] = {
    {"MinSize", 1, K::PropertyGet, "l", "pVal", Call<&IFileContent::get_MinSize>, "Returns the smallest size in bytes of a serialised FileContent"},
    {"Offset", 2, K::PropertyGet, "l", "pVal", Call<&IFileContent::get_Offset>, "Sets/returns the offset from the start of a file at which this FileContent occurs"},
    {"Offset", 2, K::PropertyPut, "l", "newVal", Call<&IFileContent::put_Offset>, "Sets/returns the offset from the start of a file at which this FileContent occurs"},
    {"ContentExists", 3, K::PropertyGet, "b", "pVal", Call<&IFileContent::get_ContentExists>, "Returns True if any ByteValues are defined for this FileContent"},
    {"AddContent", 4, K::Method, "o", "objNewValue", Call<&IFileContent::AddContent>, "Adds a ByteValue to the end of the sequence of this FileContent"},
    {"Serialise", 7, K::MethodWithResult, "v", "byteArray", Call<&IFileContent::Serialise>, "Returns a serialised form of this FileContent as a Byte array in a Variant"},
    {"Deserialise", 8, K::MethodWithResult, "vlb", "bytData,lngStart,pVal", Call<&IFileContent::Deserialise>, "Sets this FileContent from a serialised form of a FileContent. First parameter must be a Byte array or a Variant containing a Byte array"},
    {"ToString", 9, K::MethodWithResult, "s", "sVal", Call<&IFileContent::ToString>, "Returns a suitable text representation of this FileContent (its offset and its sequence)"},
    {"Content", 10, K::PropertyGet, "v", "pVal", Call<&IFileContent::get_Content>, "Returns an array of ByteValue (in a Variant) representing the ByteValues defined for this FileContent. If there is no content defined, returns an empty Variant"},
    {"ContentAsInts", 11, K::PropertyGet, "v", "pVal", Call<&IFileContent::get_ContentAsInts>, "property ContentAsInts"},
};

const MemberDescription FileSignatureMembers[] = {
    {"AddContent", 1, K::Method, "o", "objFC", Call<&IFileSignature::AddContent>, "Adds a FileContent to this FileSignature, replacing any FileContent with the same offset and sequence"},
    {"RemoveContent", 2, K::Method, "o", "objFC", Call<&IFileSignature::RemoveContent>, "Removes the FileContent with the same offset and sequence from this FileSignature"},
    {"EndSequenceCount", 3, K::PropertyGet, "y", "pVal", Call<&IFileSignature::get_EndSequenceCount>, "Returns the number of end-of-file sequences defined for this FileSignature"},
    {"FixedLength", 4, K::PropertyGet, "b", "pVal", Call<&IFileSignature::get_FixedLength>, "Sets/returns a flag indicating that files of this FileSignature are of a fixed size"},
    {"FixedLength", 4, K::PropertyPut, "b", "newVal", Call<&IFileSignature::put_FixedLength>, "Sets/returns a flag indicating that files of this FileSignature are of a fixed size"},
    {"FileSize", 5, K::PropertyGet, "l", "pVal", Call<&IFileSignature::get_FileSize>, "Sets/returns the size in bytes of a file of this FileSignature when it is of a fixed size"},
    {"FileSize", 5, K::PropertyPut, "l", "newVal", Call<&IFileSignature::put_FileSize>, "Sets/returns the size in bytes of a file of this FileSignature when it is of a fixed size"},
    {"StartSequence", 6, K::PropertyGet, "v", "pVal", Call<&IFileSignature::get_StartSequence>, "Sets/returns the start-of-file sequence of this FileSignature as an array of ByteValue (in a Variant)"},
    {"StartSequence", 6, K::PropertyPut, "v", "newVal", Call<&IFileSignature::put_StartSequence>, "Sets/returns the start-of-file sequence of this FileSignature as an array of ByteValue (must be in a Variant)"},
    {"Content", 7, K::PropertyGet, "v", "pVal", Call<&IFileSignature::get_Content>, "Returns an array of FileContent (in a Variant) representing the FileContents defined for this FileSignature. If there are none, returns an empty Variant"},
    {"EndSequence", 8, K::PropertyGet, "yv", "item,pVal", Call<&IFileSignature::get_EndSequence>, "Returns the end-of-file sequence identified by the parameter item (1 to EndSequenceCount) as an array of ByteValue (in a Variant). If item is not a valid value, returns an empty Variant"},
    {"AddEndSequence", 9, K::Method, "v", "objSeq", Call<&IFileSignature::AddEndSequence>, "Adds an end-of-file sequence (an array of ByteValue in a Variant) to this FileSignature, replacing an equal one"},
    {"RemoveEndSequence", 10, K::Method, "v", "objSeq", Call<&IFileSignature::RemoveEndSequence>, "Removes the end-of-file sequence equal to the given array of ByteValue (in a Variant) from this FileSignature"},
    {"MatchesStart", 11, K::MethodWithResult, "vlb", "bytSeq,lngStartAt,blnMatch", Call<&IFileSignature::MatchesStart>, "Tests a sequence of bytes to see if it matches the start-of-file sequence of this FileSignature at the given position"},
    {"MatchesContent", 12, K::MethodWithResult, "vllb", "bytSeq,lngLowLim,lngOffset,blnMatch", Call<&IFileSignature::MatchesContent>, "Tests a sequence of bytes to see if it matches any of the FileContents of this FileSignature"},
    {"MatchesEnd", 13, K::MethodWithResult, "vlllb", "bytSeq,lngStartAt,lngOffset,lngEndPoint,blnMatch", Call<&IFileSignature::MatchesEnd>, "Tests a sequence of bytes to see if it matches the end of a file of this FileSignature, returning the position of its last byte"},
    {"Serialise", 14, K::MethodWithResult, "v", "bytReturn", Call<&IFileSignature::Serialise>, "Returns a serialised form of this FileSignature as a Byte array in a Variant"},
    {"Deserialise", 15, K::MethodWithResult, "vlb", "varData,lngStart,blnCompleted", Call<&IFileSignature::Deserialise>, "Sets this FileSignature from a serialised form of a FileSignature. First parameter must be a Byte array or a Variant containing a Byte array"},
    {"ToString", 16, K::MethodWithResult, "s", "strData", Call<&IFileSignature::ToString>, "Returns a suitable text representation of this FileSignature (actually, its start-of-file sequence)"},
    {"EndToString", 17, K::MethodWithResult, "is", "item,strData", Call<&IFileSignature::EndToString>, "Returns a suitable text representation of the end-of-file sequence identified by the parameter item"},
};

const MemberDescription SupportedFileTypeMembers[] = {
    {"FileExtension", 1, K::PropertyGet, "s", "pVal", Call<&ISupportedFileType::get_FileExtension>, "Sets/returns the three-character file extension of this SupportedFileType"},
    {"FileExtension", 1, K::PropertyPut, "s", "newVal", Call<&ISupportedFileType::put_FileExtension>, "Sets/returns the three-character file extension of this SupportedFileType"},
    {"Description", 2, K::PropertyGet, "s", "pVal", Call<&ISupportedFileType::get_Description>, "Sets/returns the description of this SupportedFileType"},
    {"Description", 2, K::PropertyPut, "s", "newVal", Call<&ISupportedFileType::put_Description>, "Sets/returns the description of this SupportedFileType"},
    {"FileType", 3, K::PropertyGet, "i", "pVal", Call<&ISupportedFileType::get_FileType>, "Sets/returns the category (1 to 4) of this SupportedFileType"},
    {"FileType", 3, K::PropertyPut, "i", "newVal", Call<&ISupportedFileType::put_FileType>, "Sets/returns the category (1 to 4) of this SupportedFileType"},
    {"Signature", 4, K::PropertyGet, "v", "pVal", Call<&ISupportedFileType::get_Signature>, "Returns an array of FileSignature (in a Variant) representing the FileSignatures defined for this SupportedFileType. If there are none, returns an empty Variant"},
    {"HasSignature", 5, K::PropertyGet, "b", "pVal", Call<&ISupportedFileType::get_HasSignature>, "Returns True if any FileSignatures are defined for this SupportedFileType"},
    {"AddSignature", 6, K::Method, "o", "objSig", Call<&ISupportedFileType::AddSignature>, "Adds a FileSignature to this SupportedFileType, replacing any FileSignature with the same start-of-file sequence"},
    {"RemoveSignature", 7, K::Method, "o", "objSig", Call<&ISupportedFileType::RemoveSignature>, "Removes the FileSignature with the same start-of-file sequence from this SupportedFileType"},
    {"AllowSearch", 8, K::PropertyGet, "b", "pVal", Call<&ISupportedFileType::get_AllowSearch>, "Sets/returns a flag indicating that files of this SupportedFileType are to be searched for"},
    {"AllowSearch", 8, K::PropertyPut, "b", "newVal", Call<&ISupportedFileType::put_AllowSearch>, "Sets/returns a flag indicating that files of this SupportedFileType are to be searched for"},
    {"MatchesAtStart", 9, K::MethodWithResult, "vlob", "bytSeq,lngStartAt,objSig,blnMatch", Call<&ISupportedFileType::MatchesAtStart>, "Tests a sequence of bytes to see if it matches the start-of-file sequence of any FileSignature of this SupportedFileType, returning that FileSignature"},
    {"Serialise", 10, K::MethodWithResult, "v", "bytData", Call<&ISupportedFileType::Serialise>, "Returns a serialised form of this SupportedFileType as a Byte array in a Variant"},
    {"Deserialise", 11, K::MethodWithResult, "vlb", "varData,lngStart,blnCompleted", Call<&ISupportedFileType::Deserialise>, "Sets this SupportedFileType from a serialised form of a SupportedFileType. First parameter must be a Byte array or a Variant containing a Byte array"},
};

const MemberDescription SupportedFileTypesMembers[] = {
    {"FileType", 1, K::PropertyGet, "io", "item,pVal", Call<&ISupportedFileTypes::get_FileType>, "Returns the SupportedFileType identified by the parameter item. If item is not a valid value (0 to ItemCount-1), returns Nothing."},
    {"ItemCount", 2, K::PropertyGet, "l", "pVal", Call<&ISupportedFileTypes::get_ItemCount>, "Returns the number of SupportedFileTypes defined"},
    {"SectorSize", 3, K::PropertyGet, "l", "pVal", Call<&ISupportedFileTypes::get_SectorSize>, "Sets/returns the size of a disk sector (used by FileSignature as part of the MatchesEnd check)"},
    {"SectorSize", 3, K::PropertyPut, "l", "newVal", Call<&ISupportedFileTypes::put_SectorSize>, "Sets/returns the size of a disk sector (used by FileSignature as part of the MatchesEnd check)"},
    {"EditMode", 4, K::PropertyGet, "b", "pVal", Call<&ISupportedFileTypes::get_EditMode>, "Sets/returns a flag indicating that loading keeps every SupportedFileType, not only those to be searched for"},
    {"EditMode", 4, K::PropertyPut, "b", "newVal", Call<&ISupportedFileTypes::put_EditMode>, "Sets/returns a flag indicating that loading keeps every SupportedFileType, not only those to be searched for"},
    {"AddFileType", 5, K::Method, "o", "objType", Call<&ISupportedFileTypes::AddFileType>, "Adds a SupportedFileType to the end of the list, replacing any SupportedFileType with the same file extension"},
    {"RemoveFileType", 6, K::Method, "o", "objType", Call<&ISupportedFileTypes::RemoveFileType>, "Removes the SupportedFileType with the same file extension from the list"},
    {"FindMatchingStart", 7, K::MethodWithResult, "vlosb", "varSeq,lngStartAt,objSig,strFileExt,blnMatch", Call<&ISupportedFileTypes::FindMatchingStart>, "Tests a sequence of bytes to see if it matches the start-of-file sequence of any SupportedFileType, returning the first matching FileSignature and its file extension"},
    {"Serialise", 8, K::MethodWithResult, "v", "varData", Call<&ISupportedFileTypes::Serialise>, "Returns a serialised form of the entire data set as a Byte array in a Variant"},
    {"Deserialise", 9, K::MethodWithResult, "vlb", "varData,lngStart,blnCompleted", Call<&ISupportedFileTypes::Deserialise>, "Sets the entire data set from a serialised form of a SupportedFileTypes. First parameter must be a Byte array or a Variant containing a Byte array"},
    {"LoadFromFile", 10, K::MethodWithResult, "sb", "strFileName,blnSuccess", Call<&ISupportedFileTypes::LoadFromFile>, "Loads the entire data set from a specified file, returning a flag to indicate success (True) or failure"},
    {"SaveToFile", 11, K::MethodWithResult, "sb", "strFileName,blnSuccess", Call<&ISupportedFileTypes::SaveToFile>, "Saves the entire data set to a specified file, returning a flag to indicated success (True) or failure"},
};

const MemberDescription ExtraLongMembers[] = {
    {"LongXInt", 1, K::Method, "lill", "mult1,mult2,resultLO,resultHI", Call<&IExtraLong::LongXInt>, "Returns the 64-bit product of a Long and an Integer as its low and high halves"},
    {"AddLongToInt64", 2, K::Method, "lllll", "LongToAdd,Int64LO,Int64HI,resultLO,resultHI", Call<&IExtraLong::AddLongToInt64>, "Returns the sum of a Long and a 64-bit value as its low and high halves"},
    {"SubInt64FromDouble", 3, K::MethodWithResult, "dlll", "DblVal,Int64LO,Int64HI,result", Call<&IExtraLong::SubInt64FromDouble>, "Returns the low 32 bits of the difference between a Double and a 64-bit value"},
    {"CompareDiff", 4, K::MethodWithResult, "dllll", "DblVal,Int64LO,Int64HI,compareTo,result", Call<&IExtraLong::CompareDiff>, "Returns 1, 0 or -1 as the difference between a Double and a 64-bit value is greater than, equal to or less than a Long"},
    {"Int64ToDouble", 5, K::MethodWithResult, "lld", "Int64LO,Int64HI,result", Call<&IExtraLong::Int64ToDouble>, "Returns an unsigned 64-bit value as a Double"},
};

const MemberDescription LargeFileMembers[] = {
    {"OpenFile", 1, K::MethodWithResult, "sbb", "strFileName,blnWriteAccess,success", Call<&ILargeFile::OpenFile>, "Opens a file for writing or for reading, closing the file opened before"},
    {"WriteData", 2, K::MethodWithResult, "vlll", "buffer,bufpos,count,result", Call<&ILargeFile::WriteData>, "Writes bytes of a Byte array to the open file through its buffer, returning the number of bytes taken or -1"},
    {"ReadData", 3, K::MethodWithResult, "vl", "buffer,byteCount", Call<&ILargeFile::ReadData>, "Reads bytes of the open file into a Byte array, returning the number of bytes read"},
    {"CloseFile", 4, K::MethodWithResult, "b", "success", Call<&ILargeFile::CloseFile>, "Writes the pending bytes and closes the open file"},
    {"FileSize", 5, K::MethodWithResult, "sd", "strFilePath,fSize", Call<&ILargeFile::FileSize>, "Returns the size in bytes of a specified file"},
};
// clang-format on

template <std::size_t N>
constexpr InterfaceDescription Describe(const char* name, const GUID& iid, const MemberDescription (&members)[N]) {
    return InterfaceDescription{name, &iid, members, N};
}

const InterfaceDescription Interfaces[] = {
    Describe("IByteValue", IID_IByteValue, ByteValueMembers),
    Describe("IFileContent", IID_IFileContent, FileContentMembers),
    Describe("IFileSignature", IID_IFileSignature, FileSignatureMembers),
    Describe("ISupportedFileType", IID_ISupportedFileType, SupportedFileTypeMembers),
    Describe("ISupportedFileTypes", IID_ISupportedFileTypes, SupportedFileTypesMembers),
    Describe("IExtraLong", IID_IExtraLong, ExtraLongMembers),
    Describe("ILargeFile", IID_ILargeFile, LargeFileMembers),
};

const CoClassDescription Classes[] = {
    {"ByteValue", &CLSID_ByteValue, &Interfaces[0], "An instance of this class can either contain a byte value or a flag indicating that its value doesn't matter."},
    {"FileContent", &CLSID_FileContent, &Interfaces[1], "An instance of this class defines a sequence of ByteValues that occur at a specified offset within a file"},
    {"FileSignature", &CLSID_FileSignature, &Interfaces[2], "An instance of this class defines a single sequence of ByteValues that occur at the start of a file, and may also define one or more FileContents and one or more end-of-file ByteValue sequences"},
    {"SupportedFileType", &CLSID_SupportedFileType, &Interfaces[3], "An instance of this class represents a single file type with one or more FileSignatures that can be used to detect it"},
    {"SupportedFileTypes", &CLSID_SupportedFileTypes, &Interfaces[4], "A single instance of this class exists, defining all of the SupportedFileType instances that can be scanned for"},
    {"ExtraLong", &CLSID_ExtraLong, &Interfaces[5], "ExtraLong Class"},
    {"LargeFile", &CLSID_LargeFile, &Interfaces[6], "LargeFile Class"},
};

std::u16string Folded(const OLECHAR* name) {
    std::u16string folded;
    for (; name && *name; ++name) {
        char16_t c = *name;
        folded += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    }
    return folded;
}

std::u16string Folded(const char* name) {
    std::u16string folded;
    for (; name && *name; ++name) folded += static_cast<char16_t>(std::tolower(static_cast<unsigned char>(*name)));
    return folded;
}

// One name cache for all interfaces, guarded by one lock.
std::mutex cacheLock;
std::unordered_map<std::u16string, DISPID> nameCaches[std::size(Interfaces)];

class InterfaceTypeInfoObject final : public ITypeInfo {
public:
    explicit InterfaceTypeInfoObject(std::size_t index) : index_(index) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *object = static_cast<ITypeInfo*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        const MemberDescription* member = nullptr;
        ids[0] = MemberId(Folded(names[0]), &member);
        if (ids[0] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
        HRESULT hr = S_OK;
        for (UINT i = 1; i < count; ++i) {
            ids[i] = ParameterId(*member, Folded(names[i]));
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) override {
        if (!instance) return E_INVALIDARG;
        const MemberDescription* member = Resolve(id, flags);
        if (!member) return DISP_E_MEMBERNOTFOUND;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (!params) params = &none;
        if (params->cNamedArgs > 0 &&
            !(member->kind == MemberKind::PropertyPut && params->cNamedArgs == 1 &&
              params->rgdispidNamedArgs && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT)) {
            return DISP_E_PARAMNOTFOUND;
        }
        HRESULT hr = member->invoke(instance, *member, params, result, argErr);
        if (FAILED(hr) && !IsDispatchError(hr)) {
            // The member itself failed: reported as an exception, as OLE does.
            if (excepInfo) {
                *excepInfo = EXCEPINFO{};
                excepInfo->bstrSource = SysAllocString(u"Typhex");
                excepInfo->scode = hr;
            }
            return DISP_E_EXCEPTION;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext,
                                               BSTR* helpFile) override {
        const InterfaceDescription& description = Interfaces[index_];
        std::string memberName;
        std::string help;
        if (id == MEMBERID_NIL) {
            memberName = description.name;
            help = memberName + " Interface";
        } else {
            const MemberDescription* member = nullptr;
            for (std::size_t i = 0; i < description.memberCount && !member; ++i)
                if (description.members[i].id == id) member = &description.members[i];
            if (!member) return TYPE_E_ELEMENTNOTFOUND;
            memberName = member->name;
            help = member->help;
        }
        if (name) *name = platform::BstrFromUtf8(memberName);
        if (docString) *docString = platform::BstrFromUtf8(help);
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetGuid(GUID* guid) override {
        if (!guid) return E_POINTER;
        *guid = *Interfaces[index_].iid;
        return S_OK;
    }

private:
    static bool IsDispatchError(HRESULT hr) {
        return (static_cast<std::uint32_t>(hr) & 0xFFFF0000u) == 0x80020000u;
    }

    DISPID MemberId(const std::u16string& folded, const MemberDescription** found) {
        const InterfaceDescription& description = Interfaces[index_];
        {
            std::lock_guard<std::mutex> guard(cacheLock);
            auto cached = nameCaches[index_].find(folded);
            if (cached != nameCaches[index_].end()) {
                *found = FirstWithId(cached->second);
                return cached->second;
            }
        }
        for (std::size_t i = 0; i < description.memberCount; ++i) {
            if (Folded(description.members[i].name) == folded) {
                *found = &description.members[i];
                std::lock_guard<std::mutex> guard(cacheLock);
                nameCaches[index_].emplace(folded, description.members[i].id);
                return description.members[i].id;
            }
        }
        return DISPID_UNKNOWN;
    }

    const MemberDescription* FirstWithId(DISPID id) const {
        const InterfaceDescription& description = Interfaces[index_];
        for (std::size_t i = 0; i < description.memberCount; ++i)
            if (description.members[i].id == id) return &description.members[i];
        return nullptr;
    }

    static DISPID ParameterId(const MemberDescription& member, const std::u16string& folded) {
        DISPID index = 0;
        const char* p = member.parameterNames;
        while (*p) {
            const char* end = std::strchr(p, ',');
            std::string name = end ? std::string(p, end) : std::string(p);
            if (Folded(name.c_str()) == folded) return index;
            ++index;
            if (!end) break;
            p = end + 1;
        }
        return DISPID_UNKNOWN;
    }

    const MemberDescription* Resolve(DISPID id, WORD flags) const {
        const InterfaceDescription& description = Interfaces[index_];
        const MemberDescription* get = nullptr;
        const MemberDescription* put = nullptr;
        const MemberDescription* method = nullptr;
        for (std::size_t i = 0; i < description.memberCount; ++i) {
            const MemberDescription& member = description.members[i];
            if (member.id != id) continue;
            if (member.kind == MemberKind::PropertyGet) get = &member;
            else if (member.kind == MemberKind::PropertyPut) put = &member;
            else method = &member;
        }
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return put;
        if (flags & DISPATCH_METHOD) return method ? method : get;
        if (flags & DISPATCH_PROPERTYGET) return get ? get : method;
        return nullptr;
    }

    std::size_t index_;
};

InterfaceTypeInfoObject TypeInfos[] = {
    InterfaceTypeInfoObject(0), InterfaceTypeInfoObject(1), InterfaceTypeInfoObject(2), InterfaceTypeInfoObject(3),
    InterfaceTypeInfoObject(4), InterfaceTypeInfoObject(5), InterfaceTypeInfoObject(6),
};

} // namespace

const CoClassDescription* CoClasses(std::size_t* count) {
    *count = std::size(Classes);
    return Classes;
}

const InterfaceDescription* FindInterface(REFIID iid) {
    for (const auto& description : Interfaces)
        if (*description.iid == iid) return &description;
    return nullptr;
}

ITypeInfo* InterfaceTypeInfo(REFIID iid) {
    for (std::size_t i = 0; i < std::size(Interfaces); ++i)
        if (*Interfaces[i].iid == iid) return &TypeInfos[i];
    return nullptr;
}

} // namespace typhex
