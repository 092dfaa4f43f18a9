#include "engine/HashWorker.h"

namespace engine {

HashWorker& HashWorker::Shared() {
    static HashWorker worker;
    return worker;
}

// Pieces are hashed one at a time in the order they came.
std::uint64_t HashWorker::Start(Sha256& hash, const void* data, std::size_t size) {
    return pieces_.Post([&hash, data, size] { hash.Update(data, size); });
}

} // namespace engine
