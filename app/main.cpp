// The desktop program. Its windows are not built yet: until they are, it
// says so and points to tranquo-cli, which does the same work.
#include <cstdio>

int main(int, char**) {
    std::fprintf(stderr, "Tranquo: the windows of the desktop program are not available yet; "
                         "use tranquo-cli for recovery and the device tools.\n");
    return 1;
}
