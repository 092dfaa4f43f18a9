#include "wizard/JpegRepair.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "wizard/JpegDecoder.h"
#include "wizard/JpegWalker.h"

namespace wizard {

namespace {

using Clock = std::chrono::steady_clock;

// Rows of blocks that must decode cleanly past the row a join falls in.
constexpr int RowsPastJoin = 2;
// A picture decoded whole ends with its end-of-image marker right after
// its last row's data; more bytes between them are not its own.
constexpr std::int64_t EndSlack = 8;
// The entropy-coded data a continuation must start with that checks out,
// at least (less where the picture ends sooner).
constexpr std::size_t ContinuationWindow = 2048;
constexpr int MaxBreakCandidates = 64;
constexpr std::size_t RowsBackFromStop = 3;
constexpr int MaxContinuationsFollowed = 3;

constexpr std::uint8_t Fill = 0xFF;

// Bytes of the drive, read in chunks and kept for the trials that read them
// again; a chunk that cannot be read holds nothing (the stream ends there).
class DriveCache {
public:
    DriveCache(const DriveReader& read, std::int64_t driveBytes) : read_(read), driveBytes_(driveBytes) {}

    // Up to count bytes at offset, within one chunk: a pointer and how many.
    std::pair<const std::uint8_t*, std::size_t> At(std::int64_t offset, std::size_t count) {
        if (offset < 0 || offset >= driveBytes_) return {nullptr, 0};
        const std::int64_t index = offset / ChunkBytes;
        const std::vector<std::uint8_t>& chunk = Chunk(index);
        const auto inside = static_cast<std::size_t>(offset - index * ChunkBytes);
        if (inside >= chunk.size()) return {nullptr, 0};
        return {chunk.data() + inside, std::min(count, chunk.size() - inside)};
    }

    // count bytes at offset copied into out; the number copied.
    std::size_t Copy(std::int64_t offset, std::uint8_t* out, std::size_t count) {
        std::size_t done = 0;
        while (done < count) {
            const auto [bytes, n] = At(offset + static_cast<std::int64_t>(done), count - done);
            if (n == 0) break;
            std::memcpy(out + done, bytes, n);
            done += n;
        }
        return done;
    }

private:
    static constexpr std::int64_t ChunkBytes = 65536;
    static constexpr std::size_t MaxChunks = 512;

    const std::vector<std::uint8_t>& Chunk(std::int64_t index) {
        auto found = chunks_.find(index);
        if (found != chunks_.end()) return found->second;
        if (chunks_.size() >= MaxChunks) chunks_.clear();
        std::vector<std::uint8_t> chunk(static_cast<std::size_t>(
            std::clamp<std::int64_t>(driveBytes_ - index * ChunkBytes, 0, ChunkBytes)));
        const std::int64_t got = chunk.empty() ? 0 : read_(index * ChunkBytes, chunk.data(), chunk.size());
        chunk.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(got, 0, static_cast<std::int64_t>(chunk.size()))));
        return chunks_.emplace(index, std::move(chunk)).first->second;
    }

    const DriveReader& read_;
    std::int64_t driveBytes_;
    std::map<std::int64_t, std::vector<std::uint8_t>> chunks_;
};

std::int64_t StreamLength(const std::vector<DriveRun>& pieces) {
    std::int64_t length = 0;
    for (const DriveRun& piece : pieces) length += piece.length;
    return length;
}

class Repairer {
public:
    Repairer(const JpegRepairInput& input, const DriveReader& read, const JpegRepairLimits& limits)
        : input_(input), limits_(limits), cache_(read, input.driveBytes),
          deadline_(Clock::now() + limits.maxTime) {}

    JpegRepairResult Run();

private:
    struct Join {
        std::int64_t breakAt = 0;  // in the stream
        std::int64_t continueAt = 0; // on the drive
    };

    JpegDecodeResult Decode(const std::vector<DriveRun>& pieces, bool findJumps, int rowLimit = -1);
    std::size_t ReadStream(const std::vector<DriveRun>& pieces, std::int64_t offset, std::uint8_t* out,
                           std::size_t count);
    bool EndsWhole(const JpegDecodeResult& decoded) const;
    std::int64_t HeaderEnd();
    JpegRepairResult Search(const std::vector<DriveRun>& carved, const JpegDecodeResult& decoded);
    bool UniformClusterBetween(const std::vector<DriveRun>& pieces, std::int64_t from, std::int64_t to);
    std::optional<std::vector<DriveRun>> Extend(const std::vector<DriveRun>& pieces, const JpegDecodeResult& failed);
    bool ForeignEnd(const std::vector<DriveRun>& pieces, const JpegDecodeResult& decoded);
    std::vector<std::int64_t> BreakCandidates(const std::vector<DriveRun>& pieces, const JpegDecodeResult& failed);
    void FindContinuation(const std::vector<DriveRun>& pieces, const JpegDecodeResult& failed,
                          const std::vector<std::int64_t>& breaks, const std::function<bool(const Join&)>& accept);
    bool TryJoin(const std::vector<DriveRun>& pieces, const JpegDecodeResult& failed, std::int64_t breakAt,
                 std::int64_t continueAt);
    bool Plausible(std::int64_t at);
    std::int64_t NextFree(std::int64_t at, const std::vector<DriveRun>& pieces) const;
    bool OutOfBudget() const;
    std::int64_t DriveOffset(const std::vector<DriveRun>& pieces, std::int64_t streamAt) const;
    std::int64_t BoundaryAtOrAfter(std::int64_t driveAt) const;
    std::vector<DriveRun> OpenAt(std::vector<DriveRun> pieces, std::int64_t breakAt, std::int64_t continueAt) const;
    static std::vector<DriveRun> Truncated(std::vector<DriveRun> pieces, std::int64_t length);

    const JpegRepairInput& input_;
    const JpegRepairLimits& limits_;
    DriveCache cache_;
    Clock::time_point deadline_;
    int tried_ = 0;
    std::int64_t scanned_ = 0;
    std::int64_t headerEnd_ = -1;
    bool headerBroken_ = false; // the header's segments stop checking out (or the carve ends in them)
};

JpegRepairResult Repairer::Run() {
    JpegRepairResult result;
    if (input_.carvedBytes <= 0 || input_.carvedBytes > limits_.maxPhotoBytes || input_.clusterBytes <= 0) {
        return result;
    }
    const std::vector<DriveRun> carved{{input_.start, input_.carvedBytes}};
    const JpegDecodeResult decoded = Decode(carved, false);
    // A header that stops checking out is a photo broken off in its header
    // (a camera's runs to tens of kilobytes). It is not put back together:
    // what its segments hold (thumbnails, camera data) cannot be checked, so
    // foreign bytes there would go unseen. Anything else libjpeg cannot
    // decode is left alone.
    if (decoded.stop == JpegDecodeStop::NoPicture) {
        HeaderEnd();
        if (!headerBroken_) return result;
        result.verdict = JpegRepairVerdict::NotWhole;
        result.runs = carved;
        return result;
    }
    if (EndsWhole(decoded)) {
        // Bytes of one value throughout a cluster are no picture data:
        // the picture decoded on over a gap of zeros.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(decoded.stoppedAt));
        const std::size_t got = ReadStream(carved, 0, bytes.data(), bytes.size());
        const std::int64_t from = std::min<std::int64_t>(HeaderEnd(), static_cast<std::int64_t>(got));
        const std::int64_t firstBoundary = BoundaryAtOrAfter(input_.start) - input_.start;
        if (FirstUniformCluster(bytes.data(), from, static_cast<std::int64_t>(got), firstBoundary,
                                input_.clusterBytes) < 0) {
            result.verdict = JpegRepairVerdict::Whole;
            return result;
        }
    }
    if (decoded.progressive) {
        result.verdict = JpegRepairVerdict::ProgressiveBroken;
        return result;
    }
    result = Search(carved, decoded);
    result.candidatesTried = tried_;
    return result;
}

bool Repairer::EndsWhole(const JpegDecodeResult& decoded) const {
    return decoded.stop == JpegDecodeStop::Complete &&
           (decoded.rowEnds.empty() || decoded.stoppedAt - decoded.rowEnds.back() <= EndSlack);
}

// Where the picture's entropy-coded data begins: past the header's segments.
std::int64_t Repairer::HeaderEnd() {
    if (headerEnd_ >= 0) return headerEnd_;
    JpegWalker walker;
    walker.Begin(input_.carvedBytes);
    std::vector<std::uint8_t> chunk(65536);
    for (std::int64_t at = 0; at < input_.carvedBytes && walker.EndPatternsFrom() < 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(65536, input_.carvedBytes - at));
        const std::size_t got = cache_.Copy(input_.start + at, chunk.data(), want);
        if (got == 0) break;
        walker.Feed(chunk.data(), got);
        at += static_cast<std::int64_t>(got);
        if (walker.State() != WalkState::Walking) break;
    }
    headerEnd_ = std::max<std::int64_t>(0, walker.EndPatternsFrom());
    std::uint8_t first[3] = {};
    headerBroken_ = walker.EndPatternsFrom() <= 0 && cache_.Copy(input_.start, first, sizeof first) == sizeof first &&
                    JpegWalker::Recognises(first, sizeof first);
    return headerEnd_;
}

JpegDecodeResult Repairer::Decode(const std::vector<DriveRun>& pieces, bool findJumps, int rowLimit) {
    const JpegStreamReader reader = [this, &pieces](std::int64_t offset, std::uint8_t* out, std::size_t count) {
        return ReadStream(pieces, offset, out, count);
    };
    return DecodeJpeg(reader, findJumps, rowLimit);
}

// The stream's bytes from offset, across the pieces: fewer than count only
// at the stream's end or where the drive could not be read.
std::size_t Repairer::ReadStream(const std::vector<DriveRun>& pieces, std::int64_t offset, std::uint8_t* out,
                                 std::size_t count) {
    std::size_t done = 0;
    std::int64_t pieceStart = 0;
    for (const DriveRun& piece : pieces) {
        const std::int64_t at = offset + static_cast<std::int64_t>(done);
        if (done < count && at >= pieceStart && at < pieceStart + piece.length) {
            const std::int64_t into = at - pieceStart;
            const auto want = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(count - done), piece.length - into));
            const std::size_t got = cache_.Copy(piece.offset + into, out + done, want);
            done += got;
            if (got < want) break;
        }
        pieceStart += piece.length;
    }
    return done;
}

// The first decode's good rows are right whatever the search finds; the
// photo is whole only when a chain of joins decodes to its end. Where it
// breaks off is looked for after the first fault the decoder sees, and
// after the first jump in the picture when that comes earlier (foreign
// picture data decodes without a fault; a sharp edge may look like a jump).
JpegRepairResult Repairer::Search(const std::vector<DriveRun>& carved, const JpegDecodeResult& decoded) {
    JpegRepairResult result;
    const JpegDecodeResult jumped = Decode(carved, true);
    for (const JpegDecodeResult* failed : {&decoded, &jumped}) {
        if (failed == &jumped && jumped.stoppedAt >= decoded.stoppedAt) break;
        if (std::optional<std::vector<DriveRun>> whole = Extend(carved, *failed)) {
            result.verdict = JpegRepairVerdict::Repaired;
            result.runs = std::move(*whole);
            return result;
        }
    }
    // What decoded cleanly is right; past it nothing is known to be.
    const JpegDecodeResult& first = jumped.stoppedAt < decoded.stoppedAt ? jumped : decoded;
    const std::int64_t good = first.rowEnds.empty() ? HeaderEnd() : first.rowEnds.back();
    result.verdict = JpegRepairVerdict::NotWhole;
    // Not even the header is known right: the carve stays as it is.
    result.runs = good > 0 ? Truncated(carved, good) : carved;
    return result;
}

// Joins the photo whose decode of pieces failed with a continuation, and
// that with the next one if need be, until it decodes whole; a join that
// leads nowhere is given up for the next candidate. The runs of the whole
// photo, or nothing.
std::optional<std::vector<DriveRun>> Repairer::Extend(const std::vector<DriveRun>& pieces,
                                                      const JpegDecodeResult& failed) {
    if (static_cast<int>(pieces.size()) >= limits_.maxPieces) return std::nullopt;
    const std::vector<std::int64_t> breaks = BreakCandidates(pieces, failed);
    std::optional<std::vector<DriveRun>> whole;
    FindContinuation(pieces, failed, breaks, [&](const Join& join) {
        const std::vector<DriveRun> joined = OpenAt(pieces, join.breakAt, join.continueAt);
        const JpegDecodeResult decoded = Decode(joined, false);
        if (EndsWhole(decoded)) {
            whole = Truncated(joined, decoded.stoppedAt);
            return true;
        }
        if (static_cast<int>(joined.size()) >= limits_.maxPieces) return false;
        // Another picture's end before this one's, with no gap of zeros
        // between (which decodes like picture data): not its data.
        const std::int64_t joinAt = StreamLength(joined) - joined.back().length;
        if (!UniformClusterBetween(joined, joinAt, decoded.stoppedAt) &&
            (decoded.stop == JpegDecodeStop::Complete || decoded.stop == JpegDecodeStop::PrematureEnd ||
             ForeignEnd(joined, decoded)))
            return false;
        const JpegDecodeResult jumped = Decode(joined, true);
        for (const JpegDecodeResult* next : {&jumped, &decoded}) {
            if (next->stoppedAt <= joinAt + input_.clusterBytes) continue;
            whole = Extend(joined, *next);
            if (whole || OutOfBudget()) break;
        }
        return whole.has_value();
    });
    return whole;
}

bool Repairer::UniformClusterBetween(const std::vector<DriveRun>& pieces, std::int64_t from, std::int64_t to) {
    if (to <= from) return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(to - from));
    const std::size_t got = ReadStream(pieces, from, bytes.data(), bytes.size());
    const std::int64_t fromDrive = DriveOffset(pieces, from);
    return FirstUniformCluster(bytes.data(), 0, static_cast<std::int64_t>(got), BoundaryAtOrAfter(fromDrive) - fromDrive,
                               input_.clusterBytes) >= 0;
}

// Whether the decode stopped at an end-of-image marker: another picture's,
// since this one was not complete.
bool Repairer::ForeignEnd(const std::vector<DriveRun>& pieces, const JpegDecodeResult& decoded) {
    if (decoded.stop != JpegDecodeStop::Warning) return false;
    const std::int64_t from = decoded.rowEnds.empty() ? 0 : decoded.rowEnds.back();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(0, decoded.stoppedAt + 2 - from)));
    bytes.resize(ReadStream(pieces, from, bytes.data(), bytes.size()));
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == Fill && bytes[i + 1] == 0xD9) return true;
    }
    return false;
}

// The cluster boundaries in the last piece where the photo may break off,
// latest first: after the data of the last rows known good, up to where the
// decode stopped (or a cluster that holds no picture data).
std::vector<std::int64_t> Repairer::BreakCandidates(const std::vector<DriveRun>& pieces,
                                                    const JpegDecodeResult& failed) {
    const std::int64_t joinAt = StreamLength(pieces) - pieces.back().length;
    const std::int64_t from = std::max(joinAt, HeaderEnd());
    // Foreign bytes may decode for a while before anything shows: the last
    // two rows decoded may hold some.
    const std::size_t rows = failed.rowEnds.size();
    std::int64_t low = std::max(from, rows >= RowsBackFromStop ? failed.rowEnds[rows - RowsBackFromStop] : from);
    std::int64_t high = std::min(failed.stoppedAt, StreamLength(pieces));
    // A cluster of one byte value (zeros) decodes without a fault: the
    // photo broke off there at the latest.
    if (high > from) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(high - from));
        const std::size_t got = ReadStream(pieces, from, bytes.data(), bytes.size());
        const std::int64_t fromDrive = DriveOffset(pieces, from);
        const std::int64_t uniform = FirstUniformCluster(bytes.data(), 0, static_cast<std::int64_t>(got),
                                                         BoundaryAtOrAfter(fromDrive) - fromDrive, input_.clusterBytes);
        if (uniform >= 0) {
            high = from + uniform;
            low = std::min(low, high - 1);
        }
    }
    std::vector<std::int64_t> breaks;
    const std::int64_t highDrive = DriveOffset(pieces, high);
    std::int64_t boundary = BoundaryAtOrAfter(highDrive);
    if (boundary > highDrive) boundary -= input_.clusterBytes;
    for (; static_cast<int>(breaks.size()) < MaxBreakCandidates; boundary -= input_.clusterBytes) {
        const std::int64_t at = joinAt + (boundary - pieces.back().offset);
        if (at <= low) break;
        breaks.push_back(at);
    }
    return breaks;
}

// Offers each continuation that decodes on across its join to accept, in
// the order of the search, until accept takes one or the budget is spent.
void Repairer::FindContinuation(const std::vector<DriveRun>& pieces, const JpegDecodeResult& failed,
                                const std::vector<std::int64_t>& breaks, const std::function<bool(const Join&)>& accept) {
    if (breaks.empty()) return;
    // Every place that decodes on and is followed further is one more
    // chance for foreign data to fit by accident: only the first few are.
    int followed = 0;
    std::int64_t lastFollowed = -1;
    // True when the search is over: a continuation taken, or enough followed.
    auto offer = [&](std::int64_t breakAt, std::int64_t continueAt) {
        if (followed >= MaxContinuationsFollowed) return true;
        const bool tried = TryJoin(pieces, failed, breakAt, continueAt);
        if (!tried) return false;
        if (continueAt != lastFollowed) ++followed;
        lastFollowed = continueAt;
        return accept(Join{breakAt, continueAt});
    };
    // Right after the file that interrupted the photo.
    for (const std::int64_t breakAt : breaks) {
        const std::int64_t driveAt = DriveOffset(pieces, breakAt);
        for (const DriveRun& file : input_.carved) {
            if (file.offset != driveAt || file.length <= 0) continue;
            const std::int64_t next = NextFree(BoundaryAtOrAfter(file.End()), pieces);
            if (next < input_.driveBytes && Plausible(next) && offer(breakAt, next)) return;
        }
    }
    // Further ahead, then from the start of the data area up to the photo.
    const std::int64_t latest = DriveOffset(pieces, breaks.front());
    const DriveRun spans[] = {{latest + input_.clusterBytes, input_.driveBytes - latest - input_.clusterBytes},
                              {BoundaryAtOrAfter(input_.dataStart), input_.start - BoundaryAtOrAfter(input_.dataStart)}};
    for (const DriveRun& span : spans) {
        for (std::int64_t at = NextFree(span.offset, pieces); at < span.End(); at = NextFree(at + input_.clusterBytes, pieces)) {
            if (OutOfBudget()) return;
            scanned_ += input_.clusterBytes;
            if (!Plausible(at)) continue;
            for (const std::int64_t breakAt : breaks) {
                if (offer(breakAt, at) || OutOfBudget()) return;
            }
        }
    }
}

// The photo decoded with the join: it must go on cleanly for the rows past
// the one the join falls in, or to its exact end.
bool Repairer::TryJoin(const std::vector<DriveRun>& pieces, const JpegDecodeResult& failed, std::int64_t breakAt,
                       std::int64_t continueAt) {
    ++tried_;
    const auto rowsBefore = static_cast<int>(
        std::upper_bound(failed.rowEnds.begin(), failed.rowEnds.end(), breakAt) - failed.rowEnds.begin());
    const std::vector<DriveRun> joined = OpenAt(pieces, breakAt, continueAt);
    const JpegDecodeResult decoded = Decode(joined, true, rowsBefore + 1 + RowsPastJoin);
    if (decoded.stop == JpegDecodeStop::RowLimit || EndsWhole(decoded)) return true;
    // A sharp edge across the picture looks like a jump: one that then
    // decodes to its exact end is taken all the same.
    return decoded.stop == JpegDecodeStop::Jump && EndsWhole(Decode(joined, false));
}

// A cheap look before a decode: picture data can go on at this cluster.
bool Repairer::Plausible(std::int64_t at) {
    std::uint8_t window[ContinuationWindow];
    const std::size_t got = cache_.Copy(at, window, sizeof window);
    if (got < std::min<std::size_t>(sizeof window, static_cast<std::size_t>(input_.clusterBytes))) return false;
    return MayContinuePicture(window, got);
}

// The first cluster boundary at or after at that no file carved whole, and
// no piece of the photo, holds.
std::int64_t Repairer::NextFree(std::int64_t at, const std::vector<DriveRun>& pieces) const {
    at = BoundaryAtOrAfter(at);
    for (bool moved = true; moved && at < input_.driveBytes;) {
        moved = false;
        auto inside = [&](const DriveRun& run) { return at >= run.offset && at < run.End(); };
        for (const DriveRun& run : input_.taken) {
            if (inside(run)) {
                at = BoundaryAtOrAfter(run.End());
                moved = true;
            }
        }
        for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
            if (inside(pieces[i])) {
                at = BoundaryAtOrAfter(pieces[i].End());
                moved = true;
            }
        }
    }
    return at;
}

bool Repairer::OutOfBudget() const {
    return tried_ >= limits_.maxCandidates || scanned_ >= limits_.maxScanBytes || Clock::now() >= deadline_;
}

std::int64_t Repairer::DriveOffset(const std::vector<DriveRun>& pieces, std::int64_t streamAt) const {
    std::int64_t pieceStart = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (streamAt < pieceStart + pieces[i].length || i + 1 == pieces.size())
            return pieces[i].offset + (streamAt - pieceStart);
        pieceStart += pieces[i].length;
    }
    return streamAt;
}

std::int64_t Repairer::BoundaryAtOrAfter(std::int64_t driveAt) const {
    const std::int64_t c = input_.clusterBytes;
    if (driveAt <= input_.dataStart) return input_.dataStart;
    return input_.dataStart + (driveAt - input_.dataStart + c - 1) / c * c;
}

// The pieces up to breakAt in the stream, then the drive from continueAt on.
std::vector<DriveRun> Repairer::OpenAt(std::vector<DriveRun> pieces, std::int64_t breakAt,
                                       std::int64_t continueAt) const {
    pieces = Truncated(std::move(pieces), breakAt);
    const std::int64_t room = std::max<std::int64_t>(0, limits_.maxPhotoBytes - breakAt);
    pieces.push_back({continueAt, std::min(room, input_.driveBytes - continueAt)});
    return pieces;
}

std::vector<DriveRun> Repairer::Truncated(std::vector<DriveRun> pieces, std::int64_t length) {
    std::vector<DriveRun> kept;
    for (DriveRun piece : pieces) {
        if (length <= 0) break;
        piece.length = std::min(piece.length, length);
        length -= piece.length;
        kept.push_back(piece);
    }
    return kept;
}

} // namespace

std::int64_t JpegRepairResult::Bytes() const {
    std::int64_t bytes = 0;
    for (const DriveRun& run : runs) bytes += run.length;
    return bytes;
}

JpegRepairResult RepairJpeg(const JpegRepairInput& input, const DriveReader& read, const JpegRepairLimits& limits) {
    return Repairer(input, read, limits).Run();
}

std::int64_t FirstUniformCluster(const std::uint8_t* bytes, std::int64_t from, std::int64_t to,
                                 std::int64_t firstBoundary, std::int64_t clusterBytes) {
    if (!bytes || clusterBytes <= 0 || to <= from) return -1;
    std::int64_t at = firstBoundary;
    if (at < from) at += (from - at + clusterBytes - 1) / clusterBytes * clusterBytes;
    for (; at + clusterBytes <= to; at += clusterBytes) {
        const std::uint8_t* cluster = bytes + at;
        if (std::memcmp(cluster, cluster + 1, static_cast<std::size_t>(clusterBytes - 1)) == 0) return at;
    }
    return -1;
}

bool MayContinuePicture(const std::uint8_t* bytes, std::size_t count) {
    if (count < 2) return false;
    if (bytes[0] == Fill && bytes[1] == 0xD8) return false; // a file starts here
    if (std::memcmp(bytes, bytes + 1, count - 1) == 0) return false;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const void* found = std::memchr(bytes + i, Fill, count - 1 - i);
        if (!found) return true;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes);
        const std::uint8_t next = bytes[i + 1];
        if (next == 0xD9) return true;
        if (next != 0x00 && (next < 0xD0 || next > 0xD7)) return false;
        ++i;
    }
    return true;
}

} // namespace wizard
