#include "Client.hpp"

#include "Arguments.hpp"
#include "Render.hpp"
#include "Report.hpp"

#include <LumraKit/JSONCoder.hpp>

#include <nlohmann/json.hpp>

namespace Client {

namespace {

int installGrant(const Host& host) {
    auto outcome = host.grant();
    if (!outcome) {
        host.err << "lumra grant: " << printable(outcome.error().reason) << "\n";
        return ExitStatus::refused;
    }
    host.out << host.palette.ok("Installed") << " " << host.installedAt << ": " << printable(outcome.value().user)
             << " may now switch sleep off and on (pmset -a disablesleep 0|1) without a password.\n";
    return ExitStatus::done;
}

int send(const Send& request, const Host& host) {
    auto reply = host.send(request.command);
    if (!reply) {
        host.err << "lumra: the service did not answer (is lumrad running?)\n";
        return ExitStatus::noAnswer;
    }
    if (!reply->ok) {
        host.err << "lumra: " << printable(reply->error.value_or("the service refused without saying why")) << "\n";
        return ExitStatus::refused;
    }
    if (request.json) {
        host.out << LumraKit::JSONCoder::plain.encode(LumraKit::toJSON(reply->status)) << "\n";
        return ExitStatus::done;
    }
    host.out << report(request.command, *reply, host.clock.now(), host.palette);
    return ExitStatus::done;
}

} // namespace

int run(const std::vector<std::string>& arguments, const Host& host) {
    auto parsed = parse(arguments, ParseContext{host.clock.now(), host.processStart});
    if (!parsed) {
        host.err << printable(parsed.error().message) << "\n\n" << parsed.error().usage;
        return ExitStatus::usage;
    }
    const Invocation& invocation = parsed.value();
    if (const auto* help = std::get_if<ShowHelp>(&invocation)) {
        host.out << help->text;
        return ExitStatus::done;
    }
    if (std::holds_alternative<InstallGrant>(invocation)) return installGrant(host);
    return send(std::get<Send>(invocation), host);
}

} // namespace Client
