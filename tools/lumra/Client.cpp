#include "Client.hpp"

#include "Arguments.hpp"
#include "Render.hpp"
#include "Report.hpp"

#include <LumraKit/JSONCoder.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace Client {

namespace {

using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::Reply;

// Every message starts "lumra: " and goes on in lower case, whoever wrote
// the text after it.
std::string message(std::string_view text) {
    std::string line = printable(text);
    if (!line.empty() && line.front() >= 'A' && line.front() <= 'Z' &&
        (line.size() == 1 || !std::isupper(static_cast<unsigned char>(line[1]))))
        line.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(line.front())));
    return "lumra: " + line + "\n";
}

int installGrant(const Host& host) {
    auto outcome = host.grant();
    if (!outcome) {
        host.err << message(outcome.error().reason);
        return ExitStatus::refused;
    }
    const auto& installed = outcome.value();
    if (installed.unchanged) {
        host.out << "Nothing to do: " << host.installedAt << " already lets " << printable(installed.user)
                 << " switch sleep off and on.\n";
        return ExitStatus::done;
    }
    host.out << host.palette.ok("Installed") << " " << host.installedAt << ": " << printable(installed.user)
             << " may now switch sleep off and on (pmset -a disablesleep 0|1) without a password.\n";
    return ExitStatus::done;
}

// One exchange with the service: the reply, or the exit status after saying
// what went wrong.
struct Exchange {
    std::optional<Reply> reply;
    int status = ExitStatus::done;
};

// A reply as the person needs to hear of it: none or a refusal is said on
// standard error and becomes the exit status.
Exchange received(std::optional<Reply> reply, const Host& host) {
    if (!reply) {
        host.err << (host.reachable() ? message("the service took the request but did not answer")
                                      : message("the service is not running (start lumrad)"));
        return {std::nullopt, ExitStatus::noAnswer};
    }
    if (!reply->ok) {
        host.err << message(reply->error.value_or("the service refused without saying why"));
        return {std::nullopt, ExitStatus::refused};
    }
    return {std::move(reply), ExitStatus::done};
}

Exchange exchange(const Command& command, const Host& host) { return received(host.send(command), host); }

bool isHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A selector that matches no owner or pid but begins exactly one claim's ID
// selects that claim: the service matches owners and pids, so it is sent as
// the claim's pid, or its owner when that picks it alone.
std::variant<std::optional<std::string>, int> resolveSelector(const std::optional<std::string>& selector,
                                                              const Host& host) {
    if (!selector || selector->size() < 4 || !isHex(*selector)) return selector;
    auto current = exchange(Command::status(), host);
    if (!current.reply) return current.status;
    const auto& claims = current.reply->status.claims;
    if (!Claim::matching(*selector, claims).empty()) return selector;
    std::vector<Claim> byID;
    for (const Claim& claim : claims) {
        std::string id = upper(claim.id.text());
        std::erase(id, '-');
        if (id.starts_with(upper(*selector))) byID.push_back(claim);
    }
    if (byID.size() > 1) {
        host.err << message("\"" + *selector + "\" begins the IDs of " + std::to_string(byID.size()) +
                            " claims; give more of it");
        return ExitStatus::usage;
    }
    if (byID.empty()) return selector; // the service says nothing matches
    const Claim& chosen = byID.front();
    if (auto process = chosen.term.ifWhilePid()) return std::optional<std::string>(std::to_string(process->pid));
    if (Claim::matching(chosen.owner, claims).size() == 1) return std::optional<std::string>(chosen.owner);
    host.err << message("the claim " + shortID(chosen.id) + " cannot be chosen alone: its owner's name begins others'");
    return ExitStatus::refused;
}

Command withSelector(const Command& command, std::optional<std::string> selector) {
    switch (command.kind()) {
    case Command::Kind::end: return Command::end(std::move(selector));
    case Command::Kind::allowLid: return Command::allowLid(std::move(selector));
    default: return Command::denyLid(std::move(selector));
    }
}

// A hold whose modes were not chosen, refused only for want of the grant:
// held again without lid, with the way to get it. `sent` becomes the hold
// made.
std::optional<Reply> holdWithoutLid(Command& sent, const Reply& refusal, const Host& host) {
    if (refusal.ok || refusal.error != LumraKit::EngageError::grantMissing().message()) return std::nullopt;
    Claim claim = sent.claim();
    claim.modes.erase(LumraKit::Mode::lid);
    if (claim.modes.empty()) return std::nullopt;
    Command again = Command::engage(claim);
    auto reply = host.send(again);
    if (reply && reply->ok) {
        host.err << message("lid-closed sleep needs the sudoers grant: run sudo lumra grant");
        sent = again;
    }
    return reply;
}

int hold(const Send& request, const Host& host) {
    Command sent = request.command;
    auto reply = host.send(sent);
    if (reply && !reply->ok && request.lidOptional)
        if (auto again = holdWithoutLid(sent, *reply, host)) reply = std::move(again);
    auto answered = received(std::move(reply), host);
    if (!answered.reply) return answered.status;
    if (request.json)
        host.out << LumraKit::JSONCoder::plain.encode(LumraKit::toJSON(*answered.reply)) << "\n";
    else
        host.out << report(sent, *answered.reply, host.clock.now(), host.palette);
    return ExitStatus::done;
}

int holdWhileRunning(const HoldWhileRunning& request, const Host& host) {
    // The claim is bound to this process, which lives as long as the
    // command: should lumra itself be killed, the service ends the claim.
    auto started = host.processStart(host.pid);
    if (!started) {
        host.err << message("cannot read this process's start time");
        return ExitStatus::refused;
    }
    Claim claim = request.claim;
    claim.term = LumraKit::Term::whilePid(host.pid, *started);
    std::ostringstream quiet;
    Host muted{host.send,  host.reachable,    host.processStart, host.pid,   host.heat, host.runCommand,
               host.grant, host.installedAt, host.clock,        host.palette, quiet,     host.err};
    int held = hold(Send{Command::engage(claim), false, request.lidOptional}, muted);
    if (held != ExitStatus::done) return held;
    int status = host.runCommand(request.command);
    // The service may have ended it already, on seeing the process gone.
    host.send(Command::end(std::to_string(host.pid)));
    return status;
}

int showSetting(const ShowSetting& request, const Host& host) {
    auto current = exchange(Command::status(), host);
    if (!current.reply) return current.status;
    const auto& status = current.reply->status;
    if (request.which == ShowSetting::Which::floor)
        host.out << "Battery floor: " << (status.floor > 0 ? std::to_string(status.floor) + "%" : "off") << ".\n";
    else
        host.out << "Notify hook: " << (status.notifyCommand.empty() ? "none" : printable(status.notifyCommand))
                 << "\n";
    return ExitStatus::done;
}

int send(const Send& request, const Host& host) {
    Command command = request.command;
    auto kind = command.kind();
    if (kind == Command::Kind::engage) return hold(request, host);

    std::vector<Claim> before;
    bool needsBefore = kind == Command::Kind::denyLid || kind == Command::Kind::suspend ||
                       kind == Command::Kind::resume;
    if (kind == Command::Kind::end || kind == Command::Kind::allowLid || kind == Command::Kind::denyLid) {
        auto resolved = resolveSelector(command.selector(), host);
        if (const int* status = std::get_if<int>(&resolved)) return *status;
        command = withSelector(command, std::get<std::optional<std::string>>(resolved));
    }
    if (needsBefore) {
        auto current = exchange(Command::status(), host);
        if (!current.reply) return current.status;
        bool suspended = current.reply->status.suspendedSince.has_value();
        if (kind == Command::Kind::resume && !suspended) {
            host.out << "Nothing to do: the service is not suspended.\n";
            return ExitStatus::done;
        }
        if (kind == Command::Kind::suspend && suspended) {
            host.out << "Nothing to do: the service is suspended already.\n";
            return ExitStatus::done;
        }
        before = current.reply->status.claims;
    }

    auto answered = exchange(command, host);
    if (!answered.reply) return answered.status;
    const Reply& reply = *answered.reply;
    if (request.json) {
        host.out << LumraKit::JSONCoder::plain.encode(LumraKit::toJSON(reply.status)) << "\n";
        return ExitStatus::done;
    }
    if (kind == Command::Kind::status) {
        host.out << statusText(reply.status, host.clock.now(), host.palette, host.heat());
        return ExitStatus::done;
    }
    host.out << report(command, reply, host.clock.now(), host.palette, before);
    return ExitStatus::done;
}

} // namespace

int run(const std::vector<std::string>& arguments, const Host& host) {
    auto parsed = parse(arguments, ParseContext{host.clock.now(), host.processStart});
    if (!parsed) {
        host.err << printable(parsed.error().message) << "\n" << helpHint(parsed.error()) << "\n";
        return ExitStatus::usage;
    }
    const Invocation& invocation = parsed.value();
    if (const auto* help = std::get_if<ShowHelp>(&invocation)) {
        host.out << help->text;
        return ExitStatus::done;
    }
    if (std::holds_alternative<InstallGrant>(invocation)) return installGrant(host);
    if (const auto* setting = std::get_if<ShowSetting>(&invocation)) return showSetting(*setting, host);
    if (const auto* running = std::get_if<HoldWhileRunning>(&invocation)) return holdWhileRunning(*running, host);
    return send(std::get<Send>(invocation), host);
}

} // namespace Client
