// A thread of its own that writes one piece of a saved file at a time while
// the caller goes on with other work (reading and examining what comes
// next). The piece's bytes are the worker's until the next Hand or Wait, and
// so is the output file: the caller touches neither in between. The worker
// touches nothing else.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/NewOutputFile.h"
#include "platform/wintypes.h"

namespace engine {

class WriteBehind {
public:
    WriteBehind();
    // Waits for the piece being written, then ends the thread.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // A buffer to fill for the next Hand: the one the last piece finished
    // with, so that its memory is used again (empty, its capacity kept).
    std::vector<BYTE> TakeBuffer();
    // Starts writing bytes to output (after Wait for the piece before).
    // Until the next Wait, output must not be used by anyone else.
    void Hand(NewOutputFile& output, std::vector<BYTE> bytes);
    // Returns once the piece handed last is written: false when its bytes
    // did not all reach the output file; true when no piece was handed
    // since the last Wait.
    bool Wait();

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    NewOutputFile* output_ = nullptr; // the piece being written; null when none
    std::vector<BYTE> bytes_;
    std::vector<BYTE> spare_;
    bool written_ = true;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace engine
