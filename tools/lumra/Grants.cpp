#include "Grants.hpp"

#include <LumraKit/Identity.hpp>
#include <PermissionGrants/Describe.hpp>
#include <Platform/Notifications.hpp>

namespace Client::Grants {

namespace {

constexpr std::string_view usage = "usage: lumra grants\n"
                                   "\n"
                                   "Shows where each permission the service needs stands: good, askable,\n"
                                   "broken or unknown, with what to do about it.\n";

} // namespace

std::vector<PermissionGrants::PermissionGrant> serviceGrants() {
    using Platform::AuthorizationOption::alert;
    using Platform::AuthorizationOption::sound;
    return {PermissionGrants::PermissionGrant::notifications(
        "Notifications", "Tells you when claims end, when sleep comes back and when the battery floor is reached.",
        "bell", false, sound | alert, LumraKit::Paths::current().notifierBundleID)};
}

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
        out << usage;
        return 0;
    }
    if (arguments.size() != 1) {
        err << "lumra grants takes no arguments\n\n" << usage;
        return 2;
    }
    for (const auto& grant : serviceGrants()) out << describe(grant) << "\n";
    return 0;
}

} // namespace Client::Grants
