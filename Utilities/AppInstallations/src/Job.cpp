#include "AppInstallations/Job.hpp"

#include <Platform/Credentials.hpp>
#include <Platform/PropertyList.hpp>
#include <Platform/SimulatedHost.hpp>

#include <algorithm>
#include <filesystem>
#include <map>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;

using Case = Job::Kind::Case;

std::string describe(const Job::Failure::Reason& reason) {
    struct Describe {
        std::string operator()(const Job::Failure::Misplaced& m) const {
            return "running from " + m.home.words() + ": " + m.needs;
        }
        std::string operator()(const Job::Failure::Bare& b) const {
            return "not part of this build (no " + b.missing + ")";
        }
        std::string operator()(const Job::Failure::Register& r) const {
            return "macOS refused the registration: " + r.text;
        }
        std::string operator()(const Job::Failure::AwaitingApproval& a) const {
            return "still awaiting approval in " + Job::approvalPath() +
                   (a.needsAdmin ? "; approving it needs an admin" : "");
        }
        std::string operator()(const Job::Failure::SwitchedOff&) const {
            return "switched off in " + Job::approvalPath() + ". " + Job::approvalSteer();
        }
        std::string operator()(const Job::Failure::Silent&) const {
            return "registered and approved, but not answering; its log says why";
        }
    };
    return std::visit(Describe{}, reason);
}

} // namespace

Job::Failure::Failure(Reason reason) : reason_(std::move(reason)), description_(describe(reason_)) {}

Job::Failure::Failure(Reason reason, std::string description)
    : reason_(std::move(reason)), description_(std::move(description)) {}

Job::Job(Kind kind, std::string name, std::function<bool()> answers, std::function<void()> handBack,
         std::shared_ptr<const JobSystem> system)
    : kind_(std::move(kind)), name_(std::move(name)), answers_(std::move(answers)), handBack_(std::move(handBack)),
      system_(system ? std::move(system) : JobSystem::live()) {}

Job Job::loginItem(std::shared_ptr<const JobSystem> system) {
    return Job(Kind::loginItem(), "the login item", {}, {}, std::move(system));
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name.front() != '.' &&
           name.find('\0') == std::string::npos;
}

std::string Job::switchValue() const { return kind_.which() == Case::loginItem ? "login-item" : kind_.plist(); }

std::optional<std::string> Job::plistPath() const {
    if (kind_.which() == Case::loginItem || !isPlainFileName(kind_.plist())) return std::nullopt;
    return std::string(kind_.which() == Case::agent ? "Contents/Library/LaunchAgents/"
                                                    : "Contents/Library/LaunchDaemons/") +
           kind_.plist();
}

std::optional<std::string> Job::label() const {
    auto path = plistPath();
    if (!path) return std::nullopt;
    auto bundle = system_->bundle();
    if (!bundle) return std::nullopt;
    auto definition = Platform::readPropertyList(Platform::SimulatedHost::hostPath(*bundle + "/" + *path));
    if (!definition) return std::nullopt;
    auto label = Platform::textValue(*definition, "Label");
    // The label names the user's own copy of the definition, so it must
    // never lead out of that folder.
    if (!label || !isPlainFileName(*label)) return std::nullopt;
    return label;
}

std::set<Scope> Job::scopes() const {
    if (kind_.which() == Case::daemon) return {Scope::everyone};
    return {Scope::everyone, Scope::me};
}

std::string Job::needs() const {
    if (scopes() == std::set<Scope>{Scope::everyone})
        return name_ + " runs only from an install for everyone (/Applications)";
    return name_ + " runs only from an Applications folder";
}

std::string Job::approvalPath() { return "System Settings › General › Login Items & Extensions"; }

std::string Job::approvalSteer(const std::string& displayName, const std::optional<std::string>& signerName) {
    std::string shown = displayName;
    if (signerName) shown += " (it may be listed as “" + *signerName + "”)";
    return "In Login Items, under Background App Activity, turn on " + shown + ".";
}

std::string Job::approvalSteer() { return approvalSteer(displayName(), signerName()); }

void Job::openApprovalSettings() { JobSystem::live()->registry().openSystemSettingsLoginItems(); }

bool isAdmin(const Platform::Accounts::Directory& directory, const std::string& user) {
    const auto* admin = directory.group("admin");
    if (admin == nullptr || directory.user(user) == nullptr) return false;
    auto groups = directory.groupsOf(user);
    return std::any_of(groups.begin(), groups.end(), [&](const auto& group) { return group.gid == admin->gid; });
}

bool Job::userIsAdmin() { return isAdmin(Platform::Accounts::load(), Platform::Credentials::currentUser().name); }

std::vector<Job> Job::declared(const std::string& bundle, const std::vector<Job>& own,
                               std::shared_ptr<const JobSystem> system) {
    std::map<std::string, const Job*> table;
    for (const Job& job : own) table.emplace(job.switchValue(), &job);
    std::vector<Job> jobs;
    for (const char* folder : {"LaunchAgents", "LaunchDaemons"}) {
        std::vector<std::string> names;
        std::error_code error;
        fs::directory_iterator listing(Platform::SimulatedHost::hostPath(bundle + "/Contents/Library/" + folder),
                                       error);
        for (; !error && listing != fs::directory_iterator(); listing.increment(error)) {
            std::string name = listing->path().filename().string();
            if (name.ends_with(".plist") && isPlainFileName(name)) names.push_back(name);
        }
        // The file system lists in no particular order.
        std::sort(names.begin(), names.end());
        bool agents = std::string_view(folder) == "LaunchAgents";
        for (const std::string& name : names) {
            if (auto found = table.find(name); found != table.end())
                jobs.push_back(*found->second);
            else
                jobs.emplace_back(agents ? Kind::agent(name) : Kind::daemon(name), name, nullptr, nullptr, system);
        }
    }
    return jobs;
}

} // namespace AppInstallation
