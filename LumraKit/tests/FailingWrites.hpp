#pragma once

// A full disk for the stores' failure paths: while `body` runs, no file of
// this process can grow (a limit that binds root too, unlike folder
// permissions). Standard error goes to a pipe meanwhile, which the limit does
// not touch, and what was written there is returned.

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

template <typename Body>
std::string logWhileWritesFail(Body body) {
    int ends[2];
    if (::pipe(ends) != 0) return "pipe failed";
    std::fflush(stderr);
    int savedError = ::dup(STDERR_FILENO);
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);

    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit none = before;
    none.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &none);
    body();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);

    std::fflush(stderr);
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    std::string written;
    char buffer[4096];
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    for (ssize_t count; (count = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        written.append(buffer, static_cast<size_t>(count));
    ::close(ends[0]);
    return written;
}
