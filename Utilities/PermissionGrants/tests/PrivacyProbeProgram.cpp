// A program that uses the privacy hub, as the application does: a probe
// launch answers and ends in answerProbeIfAsked; any other launch says so
// and exits 3.

#include <PermissionGrants/PrivacyHub.hpp>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    PermissionGrants::PrivacyHub::answerProbeIfAsked(std::vector<std::string>(argv + 1, argv + argc));
    std::puts("not a probe");
    return 3;
}
