#include "shell/frmPasser.h"

namespace shell {

StringStore& frmPasser() {
    static StringStore store;
    return store;
}

} // namespace shell
