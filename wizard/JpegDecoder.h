// A JPEG picture decoded row of blocks by row of blocks (libjpeg-turbo, at an
// eighth of its size: one value per block, which is all a check of the
// picture needs and costs little beyond the entropy decoding). It says how
// far the picture decodes cleanly, where in the stream each row's data ended,
// and what stopped it: a decoding error or warning, the data running out, or
// a sudden jump between two rows of blocks, which is what foreign bytes
// decoded as picture data look like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace wizard {

// Reads up to count bytes of the stream from offset into buffer; returns the
// bytes given (0 at the stream's end).
using JpegStreamReader = std::function<std::size_t(std::int64_t offset, std::uint8_t* buffer, std::size_t count)>;

enum class JpegDecodeStop {
    Complete,     // every row decoded, up to the end-of-image marker
    RowLimit,     // the rows asked for decoded cleanly
    NoPicture,    // the header does not describe a picture libjpeg can decode
    Error,        // the decoder gave up
    Warning,      // corrupt data: a marker, a bad code, a short segment
    Jump,         // a row of blocks unlike the ones above it
    PrematureEnd, // the stream ended before the picture did
};

struct JpegDecodeResult {
    JpegDecodeStop stop = JpegDecodeStop::NoPicture;
    bool progressive = false;
    int rows = 0; // rows of blocks in the picture
    // For each row decoded cleanly (the one that stopped the decode not
    // included): the stream bytes the decoder had taken when it was out.
    std::vector<std::int64_t> rowEnds;
    // The stream bytes taken when the decode stopped; for Complete, the
    // offset just past the end-of-image marker.
    std::int64_t stoppedAt = 0;
};

// Decodes the stream until its picture is complete, something stops it, or
// (rowLimit >= 0) rowLimit rows decoded cleanly. Bounded by the picture's
// size, which the header gives (a header claiming more than maxPixels is
// NoPicture).
// Jumps are looked for only when findJumps is set: a sharp edge across a
// whole picture may look like one.
JpegDecodeResult DecodeJpeg(const JpegStreamReader& read, bool findJumps, int rowLimit = -1,
                            std::int64_t maxPixels = 400LL * 1000 * 1000);

} // namespace wizard
