#pragma once

#include "AppInstallations/Job.hpp"

#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>

namespace AppInstallation {

// The installs in flight in this process, one per job: registering is slow
// and two parts of the app may ask for the same job at once. Any thread.
class InstallFlights {
public:
    // The process's one table.
    static InstallFlights& shared();

    // Runs `work` under `key` on the calling thread and answers its state or
    // throws its exception; while one runs, another caller with the same key
    // starts nothing and gets that outcome.
    Job::State run(const std::string& key, const std::function<Job::State()>& work);

    // How many installs are in flight, and how many callers wait for one
    // another caller started.
    size_t inFlight() const;
    size_t joined() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, std::shared_future<Job::State>> running_;
    size_t joined_ = 0;
};

} // namespace AppInstallation
