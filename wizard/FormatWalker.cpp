#include "wizard/FormatWalker.h"

#include "wizard/AmrWalker.h"
#include "wizard/AsfWalker.h"
#include "wizard/BmpWalker.h"
#include "wizard/EbmlWalker.h"
#include "wizard/GifWalker.h"
#include "wizard/IsoMediaWalker.h"
#include "wizard/JpegWalker.h"
#include "wizard/Mp3Walker.h"
#include "wizard/MpegPsWalker.h"
#include "wizard/OggWalker.h"
#include "wizard/PngWalker.h"
#include "wizard/RiffWalker.h"
#include "wizard/TiffWalker.h"

namespace wizard {

namespace {

template <typename Walker>
bool Try(const std::uint8_t* first, std::size_t count, std::unique_ptr<FormatWalker>& walker) {
    if (walker || !Walker::Recognises(first, count)) return false;
    walker = std::make_unique<Walker>();
    return true;
}

} // namespace

std::unique_ptr<FormatWalker> WalkerFor(const std::uint8_t* first, std::size_t count) {
    std::unique_ptr<FormatWalker> walker;
    if (!first) return walker;
    // The magic numbers do not overlap; MPEG audio, told only by its frame
    // sync, is asked last.
    Try<JpegWalker>(first, count, walker) || Try<TiffWalker>(first, count, walker) ||
        Try<IsoMediaWalker>(first, count, walker) || Try<RiffWalker>(first, count, walker) ||
        Try<PngWalker>(first, count, walker) || Try<GifWalker>(first, count, walker) ||
        Try<BmpWalker>(first, count, walker) || Try<MpegPsWalker>(first, count, walker) ||
        Try<AsfWalker>(first, count, walker) || Try<OggWalker>(first, count, walker) ||
        Try<EbmlWalker>(first, count, walker) || Try<AmrWalker>(first, count, walker) ||
        Try<Mp3Walker>(first, count, walker);
    return walker;
}

} // namespace wizard
