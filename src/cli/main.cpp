#include <cstdio>

int main() {
    std::puts("vindaru-cli");
    return 0;
}
