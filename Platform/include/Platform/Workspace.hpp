#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

// A URL that passed the platform's syntax check: only characters a URL may
// hold, and every '%' starting an escape of two hex digits.
class URL {
public:
    static std::optional<URL> parse(std::string_view text);
    const std::string& text() const { return text_; }

private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// Hands URLs to the system (System Settings panes and the like). Opening
// reports nothing; a failure to open goes unnoticed, as on the platform.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void open(const URL& url) = 0;

    // The workspace of the simulated host.
    static Workspace& shared();
};

// The simulated workspace under `root`: each opened URL becomes one line of
// opened-urls.log, and a Privacy & Security pane is shown to the person as a
// "settings" prompt (docs/simulated-host.md).
std::unique_ptr<Workspace> makeSimulatedWorkspace(std::filesystem::path root);

} // namespace Platform
