// Typhex: the file-type signature library, served in process through COM.
//
// This is the library's public header, the one its clients include (as a
// MIDL-generated header would be): the seven dual interfaces in vtable order
// and the class, interface, library and application ids. The ids are inline
// constants, so a client needs no link with the library; it creates objects
// with CoCreateInstance(CLSID_..., nullptr, CLSCTX_INPROC_SERVER, IID_..., &p).
//
// Conventions of every interface:
// - Every member returns an HRESULT: S_OK for every ordinary outcome (no
//   match, short data, a file that cannot be loaded), E_INVALIDARG for an
//   argument Variant of the wrong kind, E_OUTOFMEMORY, E_FAIL when a file
//   cannot be opened (ILargeFile::OpenFile) or an inner object cannot be
//   created.
// - Booleans handed back are 0 (false) and 1 (true), not VARIANT_TRUE; test
//   them for non-zero. Booleans passed in count as true when non-zero.
// - A byte-array argument is a Variant of VT_ARRAY|VT_UI1 (a SAFEARRAY*), or
//   VT_ARRAY|VT_UI1|VT_BYREF (a SAFEARRAY**), one dimension, any lower bound;
//   positions count bytes from the array's first element. The library reads
//   it in place and never keeps it (platform::BorrowedByteArray::ByRefVariant
//   wraps a caller's buffer without copying).
// - A pattern entry is 16 bits: 0..255 a literal byte, 256 a position that
//   matches any byte (any value with a non-zero high byte reads as that).
// - Out texts are new BSTRs the caller frees; an in/out text or interface
//   pointer that is replaced has its previous value freed/released first.
// - Out Variants must be initialised (VariantInit): what they hold is
//   cleared before the result is stored. Arrays of objects come back as
//   VT_ARRAY|VT_DISPATCH, lower bound 0, holding the only references.
// - Late-binding clients reach every member through IDispatch by name; a
//   member's own failure comes back from Invoke as DISP_E_EXCEPTION with the
//   member's HRESULT in EXCEPINFO::scode.
#pragma once

#include "platform/com.h"
#include "platform/oleauto.h"

// {965BF1EF-6430-4C4A-A411-5BC99146519D}
inline constexpr GUID LIBID_Typhex = {0x965BF1EF, 0x6430, 0x4C4A, {0xA4, 0x11, 0x5B, 0xC9, 0x91, 0x46, 0x51, 0x9D}};
// {B1075EEA-CBF4-47E7-AC43-8893E03057C5}
inline constexpr GUID APPID_Typhex = {0xB1075EEA, 0xCBF4, 0x47E7, {0xAC, 0x43, 0x88, 0x93, 0xE0, 0x30, 0x57, 0xC5}};

// {DB8B423C-FBAA-49CC-819A-985966722B3C}
inline constexpr GUID CLSID_ByteValue = {0xDB8B423C, 0xFBAA, 0x49CC, {0x81, 0x9A, 0x98, 0x59, 0x66, 0x72, 0x2B, 0x3C}};
// {7B73AFFB-970A-4902-9490-E2056B86902D}
inline constexpr GUID IID_IByteValue = {0x7B73AFFB, 0x970A, 0x4902, {0x94, 0x90, 0xE2, 0x05, 0x6B, 0x86, 0x90, 0x2D}};
// {D7C6A7DF-1E4E-497F-84E1-3ED9E5B4506E}
inline constexpr GUID CLSID_FileContent = {0xD7C6A7DF, 0x1E4E, 0x497F, {0x84, 0xE1, 0x3E, 0xD9, 0xE5, 0xB4, 0x50, 0x6E}};
// {889BC245-84E3-4138-B18B-75ACF9053CF7}
inline constexpr GUID IID_IFileContent = {0x889BC245, 0x84E3, 0x4138, {0xB1, 0x8B, 0x75, 0xAC, 0xF9, 0x05, 0x3C, 0xF7}};
// {C6365F56-EF3E-4104-B8C2-FE00C065D854}
inline constexpr GUID CLSID_FileSignature = {0xC6365F56, 0xEF3E, 0x4104, {0xB8, 0xC2, 0xFE, 0x00, 0xC0, 0x65, 0xD8, 0x54}};
// {8F1C68F7-34B0-45D0-B681-D24742E91F6F}
inline constexpr GUID IID_IFileSignature = {0x8F1C68F7, 0x34B0, 0x45D0, {0xB6, 0x81, 0xD2, 0x47, 0x42, 0xE9, 0x1F, 0x6F}};
// {D3DBD326-F3EE-4A36-964F-3186E56B74AC}
inline constexpr GUID CLSID_SupportedFileType = {0xD3DBD326, 0xF3EE, 0x4A36, {0x96, 0x4F, 0x31, 0x86, 0xE5, 0x6B, 0x74, 0xAC}};
// {774480E1-AA5C-498A-A167-22CF9BB5BACC}
inline constexpr GUID IID_ISupportedFileType = {0x774480E1, 0xAA5C, 0x498A, {0xA1, 0x67, 0x22, 0xCF, 0x9B, 0xB5, 0xBA, 0xCC}};
// {C1E4DE6F-3BCF-4307-8D1C-8FC0363E92A6}
inline constexpr GUID CLSID_SupportedFileTypes = {0xC1E4DE6F, 0x3BCF, 0x4307, {0x8D, 0x1C, 0x8F, 0xC0, 0x36, 0x3E, 0x92, 0xA6}};
// {60879F21-D2A9-43A8-81DC-441B42ED4F5C}
inline constexpr GUID IID_ISupportedFileTypes = {0x60879F21, 0xD2A9, 0x43A8, {0x81, 0xDC, 0x44, 0x1B, 0x42, 0xED, 0x4F, 0x5C}};
// {D364A70F-A879-4BC0-86D0-135EF88168C1}
inline constexpr GUID CLSID_ExtraLong = {0xD364A70F, 0xA879, 0x4BC0, {0x86, 0xD0, 0x13, 0x5E, 0xF8, 0x81, 0x68, 0xC1}};
// {A4657EE2-91C8-4CCC-951F-B4BB268B5217}
inline constexpr GUID IID_IExtraLong = {0xA4657EE2, 0x91C8, 0x4CCC, {0x95, 0x1F, 0xB4, 0xBB, 0x26, 0x8B, 0x52, 0x17}};
// {F40546F8-4EE3-4684-9A1C-4948AFD25B72}
inline constexpr GUID CLSID_LargeFile = {0xF40546F8, 0x4EE3, 0x4684, {0x9A, 0x1C, 0x49, 0x48, 0xAF, 0xD2, 0x5B, 0x72}};
// {5CDC052A-638A-4F06-BE41-8397DDABA1CA}
inline constexpr GUID IID_ILargeFile = {0x5CDC052A, 0x638A, 0x4F06, {0xBE, 0x41, 0x83, 0x97, 0xDD, 0xAB, 0xA1, 0xCA}};

struct IByteValue;
struct IFileContent;
struct IFileSignature;
struct ISupportedFileType;
struct ISupportedFileTypes;
struct IExtraLong;
struct ILargeFile;

// One position of a byte pattern: a literal byte or "any byte" (don't care).
// A new object is don't care with Value 0; while DontCare is set Value is 0.
struct IByteValue : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_DontCare(VARIANT_BOOL* pVal) = 0;           // DISPID 1
    virtual HRESULT STDMETHODCALLTYPE put_DontCare(VARIANT_BOOL newVal) = 0;          // setting it clears Value
    virtual HRESULT STDMETHODCALLTYPE get_Value(BYTE* pVal) = 0;                      // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE put_Value(BYTE newVal) = 0;                     // clears DontCare
    virtual HRESULT STDMETHODCALLTYPE Serialise(SHORT* pVal) = 0;                     // DISPID 3: 256 or the value
    virtual HRESULT STDMETHODCALLTYPE Deserialise(SHORT intValue) = 0;                // DISPID 4

protected:
    ~IByteValue() = default;
};

// A pattern of up to 255 positions at a fixed byte offset from a file's start.
struct IFileContent : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_MinSize(LONG* pVal) = 0;                    // DISPID 1: always 7
    virtual HRESULT STDMETHODCALLTYPE get_Offset(LONG* pVal) = 0;                     // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE put_Offset(LONG newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentExists(VARIANT_BOOL* pVal) = 0;      // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE AddContent(IByteValue* objNewValue) = 0;        // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE Serialise(VARIANT* byteArray) = 0;              // DISPID 7
    virtual HRESULT STDMETHODCALLTYPE Deserialise(VARIANT bytData, LONG* lngStart, VARIANT_BOOL* pVal) = 0; // 8
    virtual HRESULT STDMETHODCALLTYPE ToString(BSTR* sVal) = 0;                       // DISPID 9: "00000004:66747970"
    virtual HRESULT STDMETHODCALLTYPE get_Content(VARIANT* pVal) = 0;                 // DISPID 10: IByteValue array
    virtual HRESULT STDMETHODCALLTYPE get_ContentAsInts(VARIANT* pVal) = 0;           // DISPID 11: VT_INT array

protected:
    ~IFileContent() = default;
};

// How one kind of file looks: a start pattern, patterns at fixed offsets,
// end-of-file patterns and, for files of one size, that size.
struct IFileSignature : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE AddContent(IFileContent* objFC) = 0;            // DISPID 1
    virtual HRESULT STDMETHODCALLTYPE RemoveContent(IFileContent* objFC) = 0;         // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE get_EndSequenceCount(BYTE* pVal) = 0;           // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE get_FixedLength(VARIANT_BOOL* pVal) = 0;        // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE put_FixedLength(VARIANT_BOOL newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FileSize(LONG* pVal) = 0;                   // DISPID 5
    virtual HRESULT STDMETHODCALLTYPE put_FileSize(LONG newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StartSequence(VARIANT* pVal) = 0;           // DISPID 6: IByteValue array
    virtual HRESULT STDMETHODCALLTYPE put_StartSequence(VARIANT newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Content(VARIANT* pVal) = 0;                 // DISPID 7: IFileContent array
    virtual HRESULT STDMETHODCALLTYPE get_EndSequence(BYTE item, VARIANT* pVal) = 0;  // DISPID 8: item 1-based
    virtual HRESULT STDMETHODCALLTYPE AddEndSequence(VARIANT objSeq) = 0;             // DISPID 9
    virtual HRESULT STDMETHODCALLTYPE RemoveEndSequence(VARIANT objSeq) = 0;          // DISPID 10
    virtual HRESULT STDMETHODCALLTYPE MatchesStart(VARIANT bytSeq, LONG lngStartAt, VARIANT_BOOL* blnMatch) = 0; // 11
    virtual HRESULT STDMETHODCALLTYPE MatchesContent(VARIANT bytSeq, LONG lngLowLim, LONG lngOffset,
                                                     VARIANT_BOOL* blnMatch) = 0;    // DISPID 12
    // bytSeq[lngStartAt] is the byte at file offset lngOffset; on a found end
    // pattern lngEndPoint is the buffer index of its last byte.
    virtual HRESULT STDMETHODCALLTYPE MatchesEnd(VARIANT bytSeq, LONG lngStartAt, LONG lngOffset, LONG* lngEndPoint,
                                                 VARIANT_BOOL* blnMatch) = 0;        // DISPID 13
    virtual HRESULT STDMETHODCALLTYPE Serialise(VARIANT* bytReturn) = 0;              // DISPID 14
    virtual HRESULT STDMETHODCALLTYPE Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) = 0; // 15
    virtual HRESULT STDMETHODCALLTYPE ToString(BSTR* strData) = 0;                    // DISPID 16: start pattern text
    virtual HRESULT STDMETHODCALLTYPE EndToString(SHORT item, BSTR* strData) = 0;     // DISPID 17

protected:
    ~IFileSignature() = default;
};

// One kind of file (a three-character extension) with its signatures.
struct ISupportedFileType : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_FileExtension(BSTR* pVal) = 0;              // DISPID 1
    virtual HRESULT STDMETHODCALLTYPE put_FileExtension(BSTR newVal) = 0;             // padded/cut to 3
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR* pVal) = 0;                // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE put_Description(BSTR newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FileType(SHORT* pVal) = 0;                  // DISPID 3: category 1..4
    virtual HRESULT STDMETHODCALLTYPE put_FileType(SHORT newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Signature(VARIANT* pVal) = 0;               // DISPID 4: IFileSignature array
    virtual HRESULT STDMETHODCALLTYPE get_HasSignature(VARIANT_BOOL* pVal) = 0;       // DISPID 5
    virtual HRESULT STDMETHODCALLTYPE AddSignature(IFileSignature* objSig) = 0;       // DISPID 6
    virtual HRESULT STDMETHODCALLTYPE RemoveSignature(IFileSignature* objSig) = 0;    // DISPID 7
    virtual HRESULT STDMETHODCALLTYPE get_AllowSearch(VARIANT_BOOL* pVal) = 0;        // DISPID 8
    virtual HRESULT STDMETHODCALLTYPE put_AllowSearch(VARIANT_BOOL newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE MatchesAtStart(VARIANT bytSeq, LONG lngStartAt, IFileSignature** objSig,
                                                     VARIANT_BOOL* blnMatch) = 0;    // DISPID 9
    virtual HRESULT STDMETHODCALLTYPE Serialise(VARIANT* bytData) = 0;                // DISPID 10
    virtual HRESULT STDMETHODCALLTYPE Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) = 0; // 11

protected:
    ~ISupportedFileType() = default;
};

// The set of file types: the signature database ("settings.zq4").
struct ISupportedFileTypes : IDispatch {
    // A new reference, or null (still S_OK) when item is not 0..ItemCount-1.
    virtual HRESULT STDMETHODCALLTYPE get_FileType(SHORT item, ISupportedFileType** pVal) = 0; // DISPID 1
    virtual HRESULT STDMETHODCALLTYPE get_ItemCount(LONG* pVal) = 0;                  // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE get_SectorSize(LONG* pVal) = 0;                 // DISPID 3: shared by all
    virtual HRESULT STDMETHODCALLTYPE put_SectorSize(LONG newVal) = 0;                //   signatures of the library
    virtual HRESULT STDMETHODCALLTYPE get_EditMode(VARIANT_BOOL* pVal) = 0;           // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE put_EditMode(VARIANT_BOOL newVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddFileType(ISupportedFileType* objType) = 0;   // DISPID 5
    virtual HRESULT STDMETHODCALLTYPE RemoveFileType(ISupportedFileType* objType) = 0; // DISPID 6
    // The first type in list order whose signature (the first in its order)
    // matches at lngStartAt: objSig and strFileExt are replaced only on a match.
    virtual HRESULT STDMETHODCALLTYPE FindMatchingStart(VARIANT varSeq, LONG lngStartAt, IFileSignature** objSig,
                                                        BSTR* strFileExt, VARIANT_BOOL* blnMatch) = 0; // DISPID 7
    virtual HRESULT STDMETHODCALLTYPE Serialise(VARIANT* varData) = 0;                // DISPID 8
    virtual HRESULT STDMETHODCALLTYPE Deserialise(VARIANT varData, LONG* lngStart, VARIANT_BOOL* blnCompleted) = 0; // 9
    virtual HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR strFileName, VARIANT_BOOL* blnSuccess) = 0; // DISPID 10
    virtual HRESULT STDMETHODCALLTYPE SaveToFile(BSTR strFileName, VARIANT_BOOL* blnSuccess) = 0;   // DISPID 11

protected:
    ~ISupportedFileTypes() = default;
};

// 64-bit helpers over (low, high) pairs of signed 32-bit halves; stateless.
struct IExtraLong : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE LongXInt(LONG mult1, SHORT mult2, LONG* resultLO, LONG* resultHI) = 0; // 1
    virtual HRESULT STDMETHODCALLTYPE AddLongToInt64(LONG LongToAdd, LONG* Int64LO, LONG* Int64HI, LONG* resultLO,
                                                     LONG* resultHI) = 0;            // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE SubInt64FromDouble(double DblVal, LONG* Int64LO, LONG* Int64HI,
                                                         LONG* result) = 0;          // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE CompareDiff(double DblVal, LONG* Int64LO, LONG* Int64HI, LONG compareTo,
                                                  LONG* result) = 0;                 // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE Int64ToDouble(LONG* Int64LO, LONG* Int64HI, double* result) = 0; // DISPID 5

protected:
    ~IExtraLong() = default;
};

// One open file at a time, written through a 1,000,000-byte buffer.
struct ILargeFile : IDispatch {
    // E_FAIL with success 0 when the file cannot be opened; an empty name does nothing.
    virtual HRESULT STDMETHODCALLTYPE OpenFile(BSTR strFileName, VARIANT_BOOL blnWriteAccess,
                                               VARIANT_BOOL* success) = 0;          // DISPID 1
    // result: count when all bytes were taken, -1 when a write fell short.
    virtual HRESULT STDMETHODCALLTYPE WriteData(VARIANT buffer, LONG bufpos, LONG count, LONG* result) = 0; // 2
    virtual HRESULT STDMETHODCALLTYPE ReadData(VARIANT* buffer, LONG* byteCount) = 0; // DISPID 3
    // success 1, or 0 when the pending bytes could not be written or the
    // file could not be closed (the file is then incomplete).
    virtual HRESULT STDMETHODCALLTYPE CloseFile(VARIANT_BOOL* success) = 0;           // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE FileSize(BSTR strFilePath, double* fSize) = 0;  // DISPID 5

protected:
    ~ILargeFile() = default;
};
