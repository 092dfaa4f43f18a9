// tranquo-cli: the command-line front end.
#include <cstdio>

int main(int, char**) {
    std::puts("usage: tranquo-cli COMMAND [OPTIONS]");
    return 2;
}
