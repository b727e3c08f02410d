// Writes the fake program's day of events (pictures, a warning, a failed mail) under HOME, for
// the browser test against the real program.
#include <cstdio>

#include "tests/support/web/FakeWebBackend.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: web_seed_history HOME\n");
        return 2;
    }
    qvtest::FakeWebBackend seed(argv[1]);
    return 0;
}
