#include "wizard/JpegDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

namespace wizard {

namespace {

// A row of blocks jumps when it differs from the row above by more than
// this much on average (sample values 0 to 255), and by several times more
// than rows of this picture usually differ.
constexpr double JumpFloor = 24.0;
constexpr double JumpFactor = 5.0;
constexpr double UsualDifferenceFloor = 3.0;

constexpr std::size_t SourceChunk = 16384;

struct Source {
    jpeg_source_mgr mgr{};
    const JpegStreamReader* read = nullptr;
    std::int64_t fed = 0;  // stream bytes handed to the decoder
    bool ended = false;    // the stream ran out (an end-of-image marker was made up)
    JOCTET buffer[SourceChunk];

    // Stream bytes the decoder has taken.
    std::int64_t Taken() const {
        const auto left = static_cast<std::int64_t>(mgr.bytes_in_buffer);
        return ended ? fed : std::max<std::int64_t>(0, fed - left);
    }
};

struct Errors {
    jpeg_error_mgr mgr{};
    std::jmp_buf jump;
    bool counting = false; // warnings count only once the picture's data is read
    bool warned = false;
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<Source*>(cinfo->src);
    std::size_t n = source->ended ? 0 : (*source->read)(source->fed, source->buffer, SourceChunk);
    if (n == 0) {
        // No more bytes: an end-of-image marker ends what the decoder reads.
        source->ended = true;
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        n = 2;
    } else {
        source->fed += static_cast<std::int64_t>(n);
    }
    source->mgr.next_input_byte = source->buffer;
    source->mgr.bytes_in_buffer = n;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    auto* source = reinterpret_cast<Source*>(cinfo->src);
    while (count > 0) {
        if (source->mgr.bytes_in_buffer == 0) FillInputBuffer(cinfo);
        const auto step = std::min<std::size_t>(static_cast<std::size_t>(count), source->mgr.bytes_in_buffer);
        source->mgr.next_input_byte += step;
        source->mgr.bytes_in_buffer -= step;
        count -= static_cast<long>(step);
    }
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Errors*>(cinfo->err)->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    auto* errors = reinterpret_cast<Errors*>(cinfo->err);
    if (level < 0 && errors->counting) errors->warned = true;
}

void OutputMessage(j_common_ptr) {}

// What the decode keeps across rows; made before the decoder's jump point,
// so that an error leaves nothing to unwind.
struct Run {
    jpeg_decompress_struct cinfo{};
    Errors errors;
    Source source;
    JpegDecodeResult result;
    std::vector<JSAMPLE> previous;
    bool findJumps = false;
    bool pictureRead = false; // the header described a picture to decode
    double differenceSum = 0;
    int differences = 0;
};

double Difference(const JSAMPLE* row, const std::vector<JSAMPLE>& previous) {
    long sum = 0;
    for (std::size_t i = 0; i < previous.size(); ++i) sum += std::abs(int(row[i]) - int(previous[i]));
    return previous.empty() ? 0.0 : static_cast<double>(sum) / static_cast<double>(previous.size());
}

// Whether this row jumps from the one above; keeps it as the row above.
bool Jumps(Run& run, const JSAMPLE* row) {
    bool jump = false;
    if (run.differences > 0 || !run.result.rowEnds.empty()) {
        const double difference = Difference(row, run.previous);
        const double usual = run.differences > 0 ? run.differenceSum / run.differences : difference;
        jump = run.differences >= 1 && difference > JumpFloor &&
               difference > JumpFactor * std::max(usual, UsualDifferenceFloor);
        if (!jump) {
            run.differenceSum += difference;
            ++run.differences;
        }
    }
    std::copy(row, row + run.previous.size(), run.previous.begin());
    return jump;
}

JpegDecodeStop DataStop(const Run& run, JpegDecodeStop otherwise) {
    return run.source.ended ? JpegDecodeStop::PrematureEnd : otherwise;
}

// The decode itself: only plain data in this frame, since an error comes
// back to the jump point.
void Decode(Run& run, int rowLimit, std::int64_t maxPixels) {
    jpeg_decompress_struct& cinfo = run.cinfo;
    JpegDecodeResult& result = run.result;
    if (setjmp(run.errors.jump)) {
        result.stop = run.pictureRead ? DataStop(run, JpegDecodeStop::Error) : JpegDecodeStop::NoPicture;
        result.stoppedAt = run.source.Taken();
        return;
    }
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return;
    if (static_cast<std::int64_t>(cinfo.image_width) * cinfo.image_height > maxPixels) return;
    result.progressive = cinfo.progressive_mode != 0;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    if (cinfo.jpeg_color_space == JCS_YCbCr) cinfo.out_color_space = JCS_YCbCr; // no conversion needed
    run.errors.counting = true;
    run.pictureRead = true;
    jpeg_start_decompress(&cinfo);
    result.rows = static_cast<int>(cinfo.output_height);
    const auto width = static_cast<std::size_t>(cinfo.output_width) * cinfo.output_components;
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                static_cast<JDIMENSION>(width), 1);
    run.previous.assign(width, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        if (rowLimit >= 0 && static_cast<int>(result.rowEnds.size()) >= rowLimit) {
            result.stop = JpegDecodeStop::RowLimit;
            result.stoppedAt = run.source.Taken();
            return;
        }
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break;
        result.stoppedAt = run.source.Taken();
        if (run.errors.warned) {
            result.stop = DataStop(run, JpegDecodeStop::Warning);
            return;
        }
        if (run.findJumps && Jumps(run, row[0])) {
            result.stop = JpegDecodeStop::Jump;
            return;
        }
        result.rowEnds.push_back(result.stoppedAt);
    }
    // What follows the last row is not the picture's: only whether the stream
    // has its end-of-image marker still counts.
    run.errors.counting = false;
    jpeg_finish_decompress(&cinfo);
    result.stoppedAt = run.source.Taken();
    result.stop = run.source.ended ? JpegDecodeStop::PrematureEnd : JpegDecodeStop::Complete;
}

} // namespace

JpegDecodeResult DecodeJpeg(const JpegStreamReader& read, bool findJumps, int rowLimit, std::int64_t maxPixels) {
    auto run = std::make_unique<Run>();
    run->findJumps = findJumps;
    run->cinfo.err = jpeg_std_error(&run->errors.mgr);
    run->errors.mgr.error_exit = ErrorExit;
    run->errors.mgr.emit_message = EmitMessage;
    run->errors.mgr.output_message = OutputMessage;
    jpeg_create_decompress(&run->cinfo);
    run->source.read = &read;
    run->source.mgr.init_source = InitSource;
    run->source.mgr.fill_input_buffer = FillInputBuffer;
    run->source.mgr.skip_input_data = SkipInputData;
    run->source.mgr.resync_to_restart = jpeg_resync_to_restart;
    run->source.mgr.term_source = TermSource;
    run->cinfo.src = &run->source.mgr;
    Decode(*run, rowLimit, maxPixels);
    jpeg_destroy_decompress(&run->cinfo);
    return std::move(run->result);
}

} // namespace wizard
