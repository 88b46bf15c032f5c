#include "LumraKit/Wire.hpp"

#include "DecodeHelpers.hpp"

#include <nlohmann/json.hpp>

#include <limits>

namespace LumraKit {

using nlohmann::json;

namespace {

using Kind = Command::Kind;

json payloadOf(const Command& command) {
    switch (command.kind()) {
    case Kind::engage: return toJSON(command.claim());
    case Kind::end:
    case Kind::allowLid:
    case Kind::denyLid: return command.selector() ? json(*command.selector()) : json();
    case Kind::setFloor: return command.floor();
    case Kind::setNotifyCommand: return command.text();
    case Kind::setKeepDisplay:
    case Kind::setUpdateCheck: return command.on();
    case Kind::status:
    case Kind::suspend:
    case Kind::resume:
    case Kind::handBack: return json();
    }
    return json();
}

// The payload under "_0": required unless `optional`, when missing or null
// means absent.
const json* payload(const json& inner, bool optional) {
    if (optional) return Decode::optionalValue(inner, "_0");
    return &Decode::requiredValue(inner, "_0");
}

std::optional<std::string> selector(const json& inner) {
    const json* value = payload(inner, true);
    if (!value) return std::nullopt;
    return Decode::string(*value, "_0");
}

} // namespace

json toJSON(const Command& command) {
    json inner = json::object();
    if (json payload = payloadOf(command); !payload.is_null()) inner["_0"] = std::move(payload);
    return json{{std::string(command.name()), std::move(inner)}};
}

Command commandFromJSON(const json& value) {
    if (!value.is_object()) Decode::wrongType("command", "an object", value);
    std::optional<Kind> kind;
    const json* inner = nullptr;
    int known = 0;
    for (const auto& [key, item] : value.items()) {
        if (auto named = Command::kindNamed(key)) {
            ++known;
            kind = named;
            inner = &item;
        }
    }
    if (known != 1) Decode::fail("Invalid number of keys found, expected one.");
    if (!inner->is_object()) Decode::wrongType("command case", "an object", *inner);

    switch (*kind) {
    case Kind::engage: return Command::engage(claimFromJSON(*payload(*inner, false)));
    case Kind::end: return Command::end(selector(*inner));
    case Kind::allowLid: return Command::allowLid(selector(*inner));
    case Kind::denyLid: return Command::denyLid(selector(*inner));
    case Kind::setFloor:
        return Command::setFloor(Decode::integer(*payload(*inner, false), "_0", std::numeric_limits<int64_t>::min(),
                                                 std::numeric_limits<int64_t>::max()));
    case Kind::setNotifyCommand: return Command::setNotifyCommand(Decode::string(*payload(*inner, false), "_0"));
    case Kind::setKeepDisplay: return Command::setKeepDisplay(Decode::boolean(*payload(*inner, false), "_0"));
    case Kind::setUpdateCheck: return Command::setUpdateCheck(Decode::boolean(*payload(*inner, false), "_0"));
    case Kind::status: return Command::status();
    case Kind::suspend: return Command::suspend();
    case Kind::resume: return Command::resume();
    case Kind::handBack: return Command::handBack();
    }
    Decode::fail("Unknown command.");
}

json toJSON(const Reply& reply) {
    json object = {{"ok", reply.ok}};
    if (reply.error) object["error"] = *reply.error;
    object["status"] = toJSON(reply.status);
    if (reply.replaced) object["replaced"] = toJSON(*reply.replaced);
    if (reply.coveredBy) object["coveredBy"] = toJSON(*reply.coveredBy);
    if (reply.ended) object["ended"] = toJSON(*reply.ended);
    return object;
}

Reply replyFromJSON(const json& value) {
    if (!value.is_object()) Decode::wrongType("reply", "an object", value);
    Reply reply;
    reply.ok = Decode::boolean(Decode::requiredValue(value, "ok"), "ok");
    if (const json* error = Decode::optionalValue(value, "error")) reply.error = Decode::string(*error, "error");
    reply.status = statusFromJSON(Decode::requiredValue(value, "status"));
    if (const json* replaced = Decode::optionalValue(value, "replaced")) reply.replaced = claimFromJSON(*replaced);
    if (const json* coveredBy = Decode::optionalValue(value, "coveredBy")) reply.coveredBy = claimFromJSON(*coveredBy);
    if (const json* ended = Decode::optionalValue(value, "ended")) reply.ended = claimsFromJSON(*ended);
    return reply;
}

} // namespace LumraKit
