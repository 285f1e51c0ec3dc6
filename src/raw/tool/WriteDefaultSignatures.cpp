// Writes the default signature settings file the program ships beside itself.
#include <cstdio>

#include "raw/DefaultSignatures.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 1;
    }
    if (!vindaru::writeDefaultSignatureFile(argv[1])) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
