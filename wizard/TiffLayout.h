// Where a TIFF-based file ends. Camera raw files (Canon CR2, Nikon NEF, Sony
// ARW, DNG, Olympus ORF) and plain TIFF images have no end pattern, and they
// hold whole JPEG pictures (previews, and with some cameras the raw data
// itself): a picture that begins on a sector boundary looks like a new file.
// Their directories (IFDs) say where every part of the file lies; the
// furthest byte any of them reaches is the file's end.
//
// Like the other format walkers, the walk is fed the file's bytes in order. It keeps the
// first bytes of the file to read directories and value arrays that lie
// behind the bytes already fed, and waits for those that lie ahead (a
// directory written after the image data). It gives up on anything that does
// not add up: a directory out of bounds or visited twice, an absurd number
// of entries, an array it cannot read. Work and memory are bounded whatever
// the bytes say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wizard {

class TiffLayout {
public:
    enum class State {
        Walking,     // directories still to be read: the end is not known yet
        Ended,       // every directory was read: the file ends at End()
        Unstructured // no TIFF structure, or one that does not add up
    };

    // Whether the first bytes begin a TIFF ("II" or "MM" and 42, or
    // Olympus's own mark in the same byte order).
    static bool Recognises(const std::uint8_t* first, std::size_t count);

    // A new file starts; its bytes follow through Feed. limit: the most bytes
    // the file may have; a structure that puts a part beyond it is not
    // trusted (Unstructured).
    void Begin(std::int64_t limit = 4294967296LL);
    // The next bytes of the file, in order. Does nothing once the walk has
    // ended or given up.
    void Feed(const std::uint8_t* bytes, std::size_t count);

    State GetState() const { return state_; }
    // The offset in the file of the first byte past its furthest part (Ended).
    std::int64_t End() const { return end_; }
    // Whether the structure names what lies at offset (Ended): image data or
    // an embedded picture that begins there, or a directory or a value (a
    // maker note) that holds it. A file start found there belongs to this
    // file; one found anywhere else inside End() may be another file written
    // over this one's space.
    bool Holds(std::int64_t offset) const;

private:
    // An array of values in the file: inside its directory entry (up to four
    // bytes) or elsewhere.
    struct Values {
        std::int64_t at = 0;
        std::uint32_t count = 0;
        std::uint16_t type = 0;
        std::int64_t Bytes() const;
    };
    enum class Kind { Directory, DirectoryList, DataParts };
    struct Pending {
        Kind kind = Kind::Directory;
        std::int64_t at = 0;     // where its bytes begin
        std::int64_t length = 0; // how many are needed (a directory: at least its count)
        bool chained = false;    // a directory whose next-directory link is followed
        Values offsets;          // DirectoryList, DataParts
        Values sizes;            // DataParts
    };

    void ReadHeader();
    void Resolve();
    bool TryRead(Pending& item);
    void ReadDirectory(const Pending& item);
    void AddDirectory(std::int64_t at, bool chained);
    void AddSubDirectories(const Values& values);
    void AddDataParts(const Values& offsets, const Values& sizes);
    void ReadDataParts(const Pending& item);
    void Cover(std::int64_t at, std::int64_t length);
    void AddMetadata(std::int64_t at, std::int64_t length);
    void AddDataStart(std::int64_t at);
    void MoveWindow();
    void Needed(const Pending& item, std::int64_t& at, std::int64_t& length) const;
    bool Available(std::int64_t at, std::int64_t length) const;
    bool CanStillCome(std::int64_t at, std::int64_t length) const;
    std::uint32_t U16(std::int64_t at) const;
    std::uint32_t U32(std::int64_t at) const;
    std::uint32_t Value(const Values& values, std::uint32_t index) const;
    void Broken() { state_ = State::Unstructured; }

    State state_ = State::Unstructured;
    bool bigEndian_ = false;
    bool headerRead_ = false;
    std::int64_t fed_ = 0;      // bytes fed so far
    std::int64_t extent_ = 0;   // furthest byte reached, plus one
    std::int64_t end_ = 0;
    std::int64_t limit_ = 0;
    int items_ = 0;             // directories and arrays queued so far
    std::uint32_t entriesLeft_ = 0; // directory entries still allowed
    std::uint32_t partsLeft_ = 0;   // strips and tiles still allowed
    std::vector<std::uint8_t> kept_;   // the file's first bytes
    std::vector<std::uint8_t> window_; // bytes from windowAt_, for a part far ahead
    std::int64_t windowAt_ = -1;
    std::int64_t wakeAt_ = 0;   // Resolve has nothing to do until the feed passes this
    std::vector<Pending> pending_;
    std::vector<std::int64_t> directories_; // offsets of every directory queued
    std::vector<std::int64_t> dataStarts_;  // sorted once Ended
    struct Range {
        std::int64_t at;
        std::int64_t end;
    };
    std::vector<Range> metadata_;
};

} // namespace wizard
