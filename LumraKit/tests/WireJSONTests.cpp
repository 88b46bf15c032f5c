#include <LumraKit/Wire.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <vector>

namespace {

using namespace std::chrono_literals;
using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::DecodingError;
using LumraKit::JSONCoder;
using LumraKit::Mode;
using LumraKit::Reply;
using LumraKit::Status;
using LumraKit::Term;
using nlohmann::json;

const Platform::Date referenceDate{LumraKit::referenceDateSinceEpoch};

// The decoder's message for the command line, or "decoded".
std::string commandError(std::string_view line) {
    try {
        (void)LumraKit::commandFromJSON(json::parse(line));
        return "decoded";
    } catch (const DecodingError& error) {
        return error.what();
    }
}

Command decoded(std::string_view line) { return LumraKit::commandFromJSON(json::parse(line)); }

std::string encoded(const Command& command) { return JSONCoder::plain.encode(LumraKit::toJSON(command)); }

Claim sampleClaim() {
    return Claim("backup", false, {Mode::idle, Mode::lid}, Term::until(referenceDate + 900000000s),
                 referenceDate + 800000000500ms, false, "say done");
}

constexpr const char* idleReply =
    R"({"ok":true,"status":{"claims":[],"sleepDisabled":false,"power":{"hasBattery":true,"onAC":true,)"
    R"("discharging":false,"percent":80,"lowPowerMode":false},"floor":15,"notifyCommand":"","keepDisplay":false,)"
    R"("lidArmed":false,"askPending":false,"thermalCritical":false,"notifications":"allowed","updateCheck":true}})";

TEST(CommandJSON, TheTwelveRequestLines) {
    EXPECT_EQ(encoded(Command::end("backup")), R"({"end":{"_0":"backup"}})");
    EXPECT_EQ(encoded(Command::end()), R"({"end":{}})");
    EXPECT_EQ(encoded(Command::status()), R"({"status":{}})");
    EXPECT_EQ(encoded(Command::setFloor(20)), R"({"setFloor":{"_0":20}})");
    EXPECT_EQ(encoded(Command::setNotifyCommand("say done")), R"({"setNotifyCommand":{"_0":"say done"}})");
    EXPECT_EQ(encoded(Command::setKeepDisplay(true)), R"({"setKeepDisplay":{"_0":true}})");
    EXPECT_EQ(encoded(Command::allowLid("backup")), R"({"allowLid":{"_0":"backup"}})");
    EXPECT_EQ(encoded(Command::denyLid()), R"({"denyLid":{}})");
    EXPECT_EQ(encoded(Command::suspend()), R"({"suspend":{}})");
    EXPECT_EQ(encoded(Command::resume()), R"({"resume":{}})");
    EXPECT_EQ(encoded(Command::handBack()), R"({"handBack":{}})");
    EXPECT_EQ(encoded(Command::setUpdateCheck(false)), R"({"setUpdateCheck":{"_0":false}})");
    Claim claim = sampleClaim();
    EXPECT_EQ(LumraKit::toJSON(Command::engage(claim)), (json{{"engage", {{"_0", LumraKit::toJSON(claim)}}}}));
}

TEST(CommandJSON, EveryCaseSurvivesTheRoundTrip) {
    std::vector<Command> commands{
        Command::engage(sampleClaim()), Command::end(), Command::end("42"), Command::status(),
        Command::setFloor(-3), Command::setFloor(INT64_MAX), Command::setNotifyCommand(""),
        Command::setNotifyCommand("echo \"a\nb\""), Command::setKeepDisplay(false), Command::allowLid(),
        Command::allowLid("you"), Command::denyLid("x"), Command::suspend(), Command::resume(),
        Command::setUpdateCheck(true), Command::handBack(),
    };
    for (const Command& command : commands) {
        std::string line = encoded(command);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_EQ(decoded(line), command) << line;
    }
}

TEST(CommandJSON, CasesWithoutPayloadTakeAnyObjectButNothingElse) {
    EXPECT_EQ(decoded(R"({"status":{}})"), Command::status());
    EXPECT_EQ(decoded(R"({"status":{"x":1}})"), Command::status());
    EXPECT_EQ(decoded(R"({"handBack":{"_0":true}})"), Command::handBack());
    for (const char* line : {R"({"status":null})", R"({"status":true})", R"({"resume":"now"})", R"({"suspend":[]})"})
        EXPECT_NE(commandError(line), "decoded") << line;
}

TEST(CommandJSON, ExactlyOneKnownCaseKey) {
    const std::string wrongCount = "Invalid number of keys found, expected one.";
    EXPECT_EQ(commandError("{}"), wrongCount);
    EXPECT_EQ(commandError(R"({"status":{},"resume":{}})"), wrongCount);
    EXPECT_EQ(commandError(R"({"stat":{},"foo":1})"), wrongCount);
    EXPECT_EQ(decoded(R"({"status":{},"foo":1})"), Command::status());
    EXPECT_EQ(decoded(R"({"Status":{},"resume":{}})"), Command::resume()); // case names are exact
    for (const char* line : {"[]", "null", "\"status\"", "3"}) EXPECT_NE(commandError(line), "decoded") << line;
}

TEST(CommandJSON, OptionalSelectorMayBeMissingOrNull) {
    EXPECT_EQ(decoded(R"({"end":{}})"), Command::end());
    EXPECT_EQ(decoded(R"({"end":{"_0":null}})"), Command::end());
    EXPECT_EQ(decoded(R"({"denyLid":{"_0":null,"_1":2}})"), Command::denyLid());
    EXPECT_EQ(decoded(R"({"allowLid":{"_0":"4711"}})"), Command::allowLid("4711"));
    EXPECT_NE(commandError(R"({"end":{"_0":17}})"), "decoded");
    EXPECT_NE(commandError(R"({"end":null})"), "decoded");
}

TEST(CommandJSON, RequiredPayloadMustBePresentAndOfItsType) {
    for (const char* line : {R"({"setFloor":{}})", R"({"setFloor":{"_0":null}})", R"({"setFloor":{"_0":"20"}})",
                             R"({"setFloor":{"_0":20.5}})", R"({"setFloor":{"_0":1e300}})",
                             R"({"setKeepDisplay":{"_0":1}})", R"({"setUpdateCheck":{}})",
                             R"({"setNotifyCommand":{"_0":false}})", R"({"engage":{}})", R"({"engage":{"_0":{}}})"})
        EXPECT_NE(commandError(line), "decoded") << line;
    EXPECT_EQ(decoded(R"({"setFloor":{"_0":20.0}})"), Command::setFloor(20));
    EXPECT_EQ(decoded(R"({"setFloor":{"_0":-7}})"), Command::setFloor(-7));
}

TEST(CommandPayloads, AskingTheWrongCaseStopsTheProcess) {
    EXPECT_DEATH((void)Command::status().claim(), "Command::claim\\(\\) of the command status");
    EXPECT_DEATH((void)Command::setFloor(3).on(), "Command::on\\(\\) of the command setFloor");
}

TEST(ReplyJSON, TheIdleStatusReplyDecodes) {
    Reply reply = LumraKit::replyFromJSON(json::parse(idleReply));
    EXPECT_TRUE(reply.ok);
    EXPECT_FALSE(reply.error || reply.replaced || reply.coveredBy || reply.ended);
    EXPECT_EQ(reply.status.power.percent, 80);
    EXPECT_EQ(reply.status.floor, 15);
    EXPECT_EQ(reply.status.notifications, LumraKit::NotificationStore::Reach::allowed);
    EXPECT_TRUE(reply.status.updateCheck);
    EXPECT_FALSE(reply.status.suspendedSince || reply.status.latestVersion);
    // Written back, it is the same object: absent optionals leave no key.
    EXPECT_EQ(LumraKit::toJSON(reply), json::parse(idleReply));
}

TEST(ReplyJSON, EveryFieldSurvivesTheRoundTrip) {
    Status status;
    status.claims = {sampleClaim()};
    status.sleepDisabled = true;
    status.power = {true, false, true, 37, true};
    status.floor = 20;
    status.notifyCommand = "say \"done\"";
    status.lidArmed = true;
    status.notifications = LumraKit::NotificationStore::Reach::silenced;
    status.suspendedSince = referenceDate + 812345678250ms;
    status.latestVersion = "1.10";
    Reply reply{false, "The sudoers grant is missing. Run: lumra grant", status, sampleClaim(), sampleClaim(),
                std::vector<Claim>{sampleClaim(), sampleClaim()}};
    std::string line = JSONCoder::plain.encode(LumraKit::toJSON(reply));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(LumraKit::replyFromJSON(json::parse(line)), reply);
    EXPECT_EQ(LumraKit::toJSON(status)["suspendedSince"], 812345678.25);
}

TEST(ReplyJSON, MissingRequiredOrUnknownValuesMakeItUndecodable) {
    json good = json::parse(idleReply);
    for (const char* key : {"claims", "sleepDisabled", "power", "floor", "notifyCommand", "keepDisplay", "lidArmed",
                            "askPending", "thermalCritical", "updateCheck"}) {
        json broken = good;
        broken["status"].erase(key);
        EXPECT_THROW(LumraKit::replyFromJSON(broken), DecodingError) << key;
        broken["status"][key] = nullptr;
        EXPECT_THROW(LumraKit::replyFromJSON(broken), DecodingError) << key;
    }
    json unknownReach = good;
    unknownReach["status"]["notifications"] = "sometimes";
    EXPECT_THROW(LumraKit::replyFromJSON(unknownReach), DecodingError);
    json noOK = good;
    noOK.erase("ok");
    EXPECT_THROW(LumraKit::replyFromJSON(noOK), DecodingError);
    json badClaim = good;
    badClaim["ended"] = json::array({json::object()});
    EXPECT_THROW(LumraKit::replyFromJSON(badClaim), DecodingError);
}

TEST(ReplyJSON, ExtraKeysAndNullOptionalsAreAccepted) {
    json relaxed = json::parse(idleReply);
    relaxed["status"]["mood"] = "sunny";
    relaxed["status"]["notifications"] = nullptr;
    relaxed["status"]["latestVersion"] = nullptr;
    relaxed["error"] = nullptr;
    relaxed["replaced"] = nullptr;
    relaxed["extra"] = {1, 2};
    Reply reply = LumraKit::replyFromJSON(relaxed);
    EXPECT_FALSE(reply.status.notifications || reply.status.latestVersion || reply.error || reply.replaced);
}

} // namespace

namespace {

std::string replyError(const json& line) {
    try {
        (void)LumraKit::replyFromJSON(line);
        return "decoded";
    } catch (const DecodingError& error) {
        return error.what();
    }
}

// The others keeping the machine awake and the display hold are optional:
// a status without them (an older service's) decodes, and an older client
// ignores them.
TEST(ReplyJSON, OtherHoldersAndTheDisplayHoldAreOptional) {
    Status status;
    status.otherHolders = std::vector<LumraKit::OtherHolder>{
        {"backupd", "Copying files", "sleep", "block", 4711},
        {"", "Playing video", "PreventUserIdleDisplaySleep", std::nullopt, std::nullopt},
    };
    status.displayHold = "screenSaver";
    json encodedStatus = LumraKit::toJSON(status);
    EXPECT_EQ(encodedStatus["otherHolders"],
              json::parse(R"([{"who":"backupd","why":"Copying files","what":"sleep","mode":"block","pid":4711},)"
                          R"({"who":"","why":"Playing video","what":"PreventUserIdleDisplaySleep"}])"));
    EXPECT_EQ(encodedStatus["displayHold"], "screenSaver");
    Reply reply{true, std::nullopt, status};
    EXPECT_EQ(LumraKit::replyFromJSON(LumraKit::toJSON(reply)), reply);

    status.otherHolders = std::vector<LumraKit::OtherHolder>{};
    EXPECT_EQ(LumraKit::toJSON(status)["otherHolders"], json::array());
    EXPECT_FALSE(LumraKit::toJSON(Status{}).contains("otherHolders"));
    EXPECT_FALSE(LumraKit::toJSON(Status{}).contains("displayHold"));
    EXPECT_FALSE(LumraKit::replyFromJSON(json::parse(idleReply)).status.otherHolders.has_value());

    const std::vector<std::pair<std::string, std::string>> broken = {
        {R"("otherHolders":{})", "Expected \"otherHolders\" to be an array, found object."},
        {R"("otherHolders":[1])", "Expected \"otherHolders\" to be an array of objects, found number."},
        {R"("otherHolders":[{"who":"a","what":"sleep"}])", "Missing key \"why\"."},
        {R"("otherHolders":[{"who":"a","why":"b","what":"c","pid":"1"}])", "Expected \"pid\" to be a whole number, found string."},
        {R"("displayHold":true)", "Expected \"displayHold\" to be a string, found boolean."},
    };
    for (const auto& [field, message] : broken) {
        std::string line = idleReply;
        line.insert(line.size() - 2, "," + field);
        EXPECT_EQ(replyError(json::parse(line)), message) << field;
    }
}

} // namespace
