#include "LumraKit/Wire.hpp"

#include "DecodeHelpers.hpp"

#include <nlohmann/json.hpp>

#include <limits>

namespace LumraKit {

using nlohmann::json;
using Notifications = PermissionGrants::PermissionGrant::Notifications;

namespace {

json toJSON(const OtherHolder& holder) {
    json object = {{"who", holder.who}, {"why", holder.why}, {"what", holder.what}};
    if (holder.mode) object["mode"] = *holder.mode;
    if (holder.pid) object["pid"] = *holder.pid;
    return object;
}

OtherHolder otherHolderFromJSON(const json& value) {
    if (!value.is_object()) Decode::wrongType("otherHolders", "an array of objects", value);
    auto text = [&](const char* key) { return Decode::string(Decode::requiredValue(value, key), key); };
    OtherHolder holder{text("who"), text("why"), text("what"), std::nullopt, std::nullopt};
    if (const json* mode = Decode::optionalValue(value, "mode")) holder.mode = Decode::string(*mode, "mode");
    if (const json* pid = Decode::optionalValue(value, "pid"))
        holder.pid = static_cast<int32_t>(Decode::integer(*pid, "pid", std::numeric_limits<int32_t>::min(),
                                                          std::numeric_limits<int32_t>::max()));
    return holder;
}

} // namespace

json toJSON(const Status& status) {
    json object = {
        {"claims", toJSON(status.claims)},
        {"sleepDisabled", status.sleepDisabled},
        {"power", toJSON(status.power)},
        {"floor", status.floor},
        {"notifyCommand", status.notifyCommand},
        {"keepDisplay", status.keepDisplay},
        {"lidArmed", status.lidArmed},
        {"askPending", status.askPending},
        {"thermalCritical", status.thermalCritical},
    };
    if (status.notifications) object["notifications"] = std::string(Notifications::rawValue(*status.notifications));
    if (status.suspendedSince) object["suspendedSince"] = JSONCoder::plain.encodeDate(*status.suspendedSince);
    object["updateCheck"] = status.updateCheck;
    if (status.latestVersion) object["latestVersion"] = *status.latestVersion;
    if (status.otherHolders) {
        json holders = json::array();
        for (const OtherHolder& holder : *status.otherHolders) holders.push_back(toJSON(holder));
        object["otherHolders"] = std::move(holders);
    }
    if (status.displayHold) object["displayHold"] = *status.displayHold;
    if (status.updateFeed) object["updateFeed"] = *status.updateFeed;
    return object;
}

Status statusFromJSON(const json& value) {
    if (!value.is_object()) Decode::wrongType("status", "an object", value);
    auto flag = [&](const char* key) { return Decode::boolean(Decode::requiredValue(value, key), key); };
    constexpr int64_t intLowest = std::numeric_limits<int>::min(), intHighest = std::numeric_limits<int>::max();

    Status status;
    status.claims = claimsFromJSON(Decode::requiredValue(value, "claims"));
    status.sleepDisabled = flag("sleepDisabled");
    try {
        status.power = powerSnapshotFromJSON(Decode::requiredValue(value, "power"));
    } catch (const DecodingError& error) {
        Decode::fail(std::string("Bad \"power\": ") + error.what());
    }
    status.floor = static_cast<int>(Decode::integer(Decode::requiredValue(value, "floor"), "floor", intLowest, intHighest));
    status.notifyCommand = Decode::string(Decode::requiredValue(value, "notifyCommand"), "notifyCommand");
    status.keepDisplay = flag("keepDisplay");
    status.lidArmed = flag("lidArmed");
    status.askPending = flag("askPending");
    status.thermalCritical = flag("thermalCritical");
    if (const json* reach = Decode::optionalValue(value, "notifications")) {
        status.notifications = Notifications::reachNamed(Decode::string(*reach, "notifications"));
        if (!status.notifications) Decode::fail("Unknown notification reach " + Decode::shown(*reach) + ".");
    }
    if (const json* since = Decode::optionalValue(value, "suspendedSince"))
        status.suspendedSince = Decode::date(JSONCoder::plain, *since, "suspendedSince");
    status.updateCheck = flag("updateCheck");
    if (const json* latest = Decode::optionalValue(value, "latestVersion"))
        status.latestVersion = Decode::string(*latest, "latestVersion");
    if (const json* holders = Decode::optionalValue(value, "otherHolders")) {
        if (!holders->is_array()) Decode::wrongType("otherHolders", "an array", *holders);
        status.otherHolders.emplace();
        for (const json& holder : *holders) status.otherHolders->push_back(otherHolderFromJSON(holder));
    }
    if (const json* hold = Decode::optionalValue(value, "displayHold"))
        status.displayHold = Decode::string(*hold, "displayHold");
    if (const json* feed = Decode::optionalValue(value, "updateFeed"))
        status.updateFeed = Decode::string(*feed, "updateFeed");
    return status;
}

} // namespace LumraKit
