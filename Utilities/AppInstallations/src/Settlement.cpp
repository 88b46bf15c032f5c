#include "AppInstallations/Job.hpp"
#include "AppInstallations/Settlement.hpp"

#include <cstdio>
#include <cstdlib>

namespace AppInstallation {

namespace {
// A placeholder until this file is built.
[[noreturn]] void notBuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
} // namespace

namespace Tombstone {
std::optional<Platform::Date> pending(const std::string&) { notBuilt("Tombstone::pending"); }
void applied(const std::string&, Platform::Date) { notBuilt("Tombstone::applied"); }
void write(const std::string&) { notBuilt("Tombstone::write"); }
std::string folder(bool) { notBuilt("Tombstone::folder"); }
} // namespace Tombstone
std::optional<OwnJob> ownJob() { notBuilt("ownJob"); }
std::optional<std::string> ownJobLabel() { notBuilt("ownJobLabel"); }
void handOver(const std::string&, const std::string&, const std::string&) { notBuilt("handOver"); }
void leave(const std::optional<std::string>&, const std::optional<std::string>&, const std::optional<std::string>&) {
    notBuilt("leave");
}
void Job::settle(const std::string&, const std::vector<Job>&, const std::vector<std::string>&) { notBuilt("settle"); }

} // namespace AppInstallation
