#include "ServiceStatus.hpp"

#include <Client.hpp>

#include <sstream>

namespace LumraApp {

ServiceStatus::ServiceStatus(Ask ask) : ask_(std::move(ask)) {}

std::string ServiceStatus::askTheService() {
    std::ostringstream out;
    std::ostringstream err;
    // The window draws in its own colours: the text comes plain.
    int status = Client::run({"status"}, Client::liveHost(out, err, Terminal::Palette{}));
    return status == Client::ExitStatus::done ? out.str() : err.str();
}

bool ServiceStatus::refresh() {
    std::string now = ask_();
    std::lock_guard lock(lock_);
    if (text_ == now) return false;
    text_ = std::move(now);
    return true;
}

std::optional<std::string> ServiceStatus::text() const {
    std::lock_guard lock(lock_);
    return text_;
}

} // namespace LumraApp
