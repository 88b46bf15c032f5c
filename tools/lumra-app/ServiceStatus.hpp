#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace LumraApp {

// The service's status and claims, in the words of `lumra status`, kept for
// the window. refresh() asks again and may wait the exchange's deadline, so
// it runs off the main thread (a poll); the window redraws only when it
// says the text changed. Any thread.
class ServiceStatus {
public:
    // What `lumra status` prints: its report, or (the service not running or
    // silent) its complaint.
    using Ask = std::function<std::string()>;

    explicit ServiceStatus(Ask ask = askTheService);

    // lumra's own exchange with lumrad, rendered without colour.
    static std::string askTheService();

    // Asks; true when the answer differs from the one kept (the first answer
    // always does).
    bool refresh();
    // The last answer; none before the first.
    std::optional<std::string> text() const;

private:
    Ask ask_;
    mutable std::mutex lock_;
    std::optional<std::string> text_;
};

} // namespace LumraApp
