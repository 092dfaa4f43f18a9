#include "engine/MessageTexts.h"

namespace engine {

MessageTable& MessageTexts() {
    static MessageTable table;
    return table;
}

} // namespace engine
