#include "AppInstallations/InstallFlights.hpp"

namespace AppInstallation {

InstallFlights& InstallFlights::shared() {
    static InstallFlights flights;
    return flights;
}

Job::State InstallFlights::run(const std::string& key, const std::function<Job::State()>& work) {
    std::promise<Job::State> outcome;
    {
        std::unique_lock guard(lock_);
        if (auto found = running_.find(key); found != running_.end()) {
            std::shared_future<Job::State> joined = found->second;
            ++joined_;
            guard.unlock();
            struct Leave {
                InstallFlights& flights;
                ~Leave() {
                    std::lock_guard guard(flights.lock_);
                    --flights.joined_;
                }
            } leave{*this};
            return joined.get();
        }
        running_.emplace(key, outcome.get_future().share());
    }
    // The entry goes before the outcome is set: a caller arriving after the
    // end starts an install of its own rather than joining a finished one.
    auto finish = [&] {
        std::lock_guard guard(lock_);
        running_.erase(key);
    };
    try {
        Job::State state = work();
        finish();
        outcome.set_value(state);
        return state;
    } catch (...) {
        finish();
        outcome.set_exception(std::current_exception());
        throw;
    }
}

size_t InstallFlights::inFlight() const {
    std::lock_guard guard(lock_);
    return running_.size();
}

size_t InstallFlights::joined() const {
    std::lock_guard guard(lock_);
    return joined_;
}

} // namespace AppInstallation
