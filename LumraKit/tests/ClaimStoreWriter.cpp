// claim-store-writer <claims.json>: saves two different claim lists in turn
// to the file, for ever, so that a test can kill it at any moment. Writes one
// byte to standard output once the first save is complete. Ends by itself
// when its parent goes or after twenty seconds, so that it never outlives a
// failed test.

#include "WriterLists.hpp"

#include <LumraKit/ClaimStore.hpp>

#include <chrono>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) return 64;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    LumraKit::ClaimStore store(argv[1]);
    const auto lists = {WriterLists::large(), WriterLists::small()};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool reported = false;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& list : lists) {
            store.save(list);
            if (!reported) reported = ::write(STDOUT_FILENO, "s", 1) == 1;
        }
    }
    return 0;
}
