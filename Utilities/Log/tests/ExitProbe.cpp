// Logs its first argument and returns: a normal exit, after which whatever
// the logging module ships must still arrive.

#include <Log/Writer.hpp>

int main(int argc, char** argv) {
    if (argc > 1) Log::log.info(argv[1]);
    return 0;
}
