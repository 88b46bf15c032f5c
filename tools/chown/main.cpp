// chown: the stand-in for chown on the simulated machine. The host owns
// every file as the host's user, so the simulated owner is recorded beside
// the file (Platform/Credentials.hpp); as on a Mac only root may give a file
// away.

#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace Accounts = Platform::Accounts;
namespace Credentials = Platform::Credentials;

constexpr const char* usage = "usage: chown owner[:group] file ...\n";

int fail(const std::string& message) {
    Platform::Files::writeAll(STDERR_FILENO, message);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() < 2) return fail(usage);
    const auto& root = Platform::SimulatedHost::root();
    Accounts::Directory directory = Accounts::load(root);

    const std::string& ownerAndGroup = arguments[0];
    size_t colon = ownerAndGroup.find(':');
    std::string ownerName = ownerAndGroup.substr(0, colon);
    const Accounts::User* owner = directory.user(ownerName);
    if (owner == nullptr) return fail("chown: " + ownerName + ": illegal user name\n");
    uint32_t gid = owner->gid;
    if (colon != std::string::npos) {
        std::string groupName = ownerAndGroup.substr(colon + 1);
        const Accounts::Group* group = directory.group(groupName);
        if (group == nullptr) return fail("chown: " + groupName + ": illegal group name\n");
        gid = group->gid;
    }

    int status = 0;
    bool isRoot = Credentials::currentUID() == Accounts::rootUID;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::filesystem::path file = Platform::SimulatedHost::hostPath(arguments[i], root);
        std::error_code error;
        if (!std::filesystem::exists(file, error)) {
            status = fail("chown: " + arguments[i] + ": No such file or directory\n");
        } else if (!isRoot || !Credentials::changeOwner(file, {owner->uid, gid}, root)) {
            status = fail("chown: " + arguments[i] + ": Operation not permitted\n");
        }
    }
    return status;
}
