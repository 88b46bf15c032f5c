#include <LumraKit/Claim.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using namespace std::chrono_literals;
using LumraKit::Claim;
using LumraKit::DecodingError;
using LumraKit::JSONCoder;
using LumraKit::Mode;
using LumraKit::Term;
using LumraKit::UUID;
using nlohmann::json;

const Platform::Date referenceDate{LumraKit::referenceDateSinceEpoch};
const char* const someID = "1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B";

json minimalClaim() {
    return json::parse(R"({"id":"1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B","owner":"you","forced":false,
                           "modes":["idle","lid"],"term":{"indefinite":{}},"startedAt":788918400})");
}

// The decoder's message for `value`, or "decoded" when it decodes.
std::string claimError(const json& value) {
    try {
        (void)LumraKit::claimFromJSON(value);
        return "decoded";
    } catch (const DecodingError& error) {
        return error.what();
    }
}

std::string termError(const json& value) {
    try {
        (void)LumraKit::termFromJSON(value);
        return "decoded";
    } catch (const DecodingError& error) {
        return error.what();
    }
}

json with(json object, const char* key, json value) {
    object[key] = std::move(value);
    return object;
}

json without(json object, const char* key) {
    object.erase(key);
    return object;
}

TEST(TermJSON, EachCaseIsAnObjectWithOneKey) {
    EXPECT_EQ(LumraKit::toJSON(Term::indefinite()), json::parse(R"({"indefinite":{}})"));
    EXPECT_EQ(LumraKit::toJSON(Term::until(referenceDate + 1500ms)), json::parse(R"({"until":{"_0":1.5}})"));
    EXPECT_EQ(LumraKit::toJSON(Term::until(referenceDate), JSONCoder::iso),
              json::parse(R"({"until":{"_0":"2001-01-01T00:00:00Z"}})"));
    EXPECT_EQ(LumraKit::toJSON(Term::whilePid(4711, 1767225600.25)),
              json::parse(R"({"whilePid":{"pid":4711,"started":1767225600.25}})"));
    EXPECT_EQ(JSONCoder::plain.encode(LumraKit::toJSON(Term::indefinite())), R"({"indefinite":{}})");
}

TEST(TermJSON, DecodesEachCaseAndIgnoresOtherKeys) {
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"indefinite":{"x":1},"note":3})")), Term::indefinite());
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"until":{"_0":-86400}})")), Term::until(referenceDate - 24h));
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"until":{"_0":"2001-01-01T00:00:00Z"}})"), JSONCoder::iso),
              Term::until(referenceDate));
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"whilePid":{"started":7,"pid":-1}})")), Term::whilePid(-1, 7));
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"whilePid":{"pid":2147483647,"started":0.5}})")),
              Term::whilePid(2147483647, 0.5));
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"whilePid":{"pid":12.0,"started":0}})")), Term::whilePid(12, 0));
}

TEST(TermJSON, NoneOrSeveralCaseKeysFailWithTheOneKeyText) {
    for (const char* bad : {R"({})", R"({"forever":{}})", R"({"until":{"_0":1},"indefinite":{}})",
                            R"({"indefinite":{},"whilePid":{"pid":1,"started":1},"until":{"_0":1}})",
                            R"({"indefinite":null,"until":{"_0":1}})"})
        EXPECT_EQ(termError(json::parse(bad)), "Invalid number of keys found, expected one.") << bad;
}

TEST(TermJSON, WrongShapesFail) {
    EXPECT_EQ(termError(json::parse(R"({"whilePid":{"pid":2147483648,"started":1}})")),
              "The number 2147483648 in \"pid\" is out of range.");
    EXPECT_EQ(termError(json::parse(R"({"whilePid":{"pid":-2147483649,"started":1}})")),
              "The number -2147483649 in \"pid\" is out of range.");
    EXPECT_EQ(termError(json::parse(R"({"whilePid":{"pid":1.5,"started":1}})")),
              "Expected \"pid\" to be a whole number, found 1.5.");
    EXPECT_EQ(termError(json::parse(R"({"whilePid":{"pid":"12","started":1}})")),
              "Expected \"pid\" to be a whole number, found string.");
    EXPECT_EQ(termError(json::parse(R"({"whilePid":{"pid":12}})")), "Missing key \"started\".");
    EXPECT_EQ(termError(json::parse(R"({"until":{}})")), "Missing key \"_0\".");
    EXPECT_EQ(termError(json::parse(R"({"until":{"_0":null}})")), "Key \"_0\" holds null.");
    EXPECT_EQ(termError(json::parse(R"({"until":5})")), "Expected \"until\" to be an object, found number.");
    EXPECT_EQ(termError(json::parse(R"({"indefinite":null})")), "Expected \"indefinite\" to be an object, found null.");
    EXPECT_EQ(termError(json::parse(R"(["indefinite"])")), "Expected \"term\" to be an object, found array.");
    EXPECT_EQ(termError(json::parse(R"({"until":{"_0":"2026-01-01T00:00:00Z"}})")),
              "Bad date in \"_0\": Expected to decode Double but found string instead.");
}

// The clock holds about 292 years either side of 1970; dates beyond it are
// refused rather than wrapped.
TEST(TermJSON, DatesTheClockCannotHoldFail) {
    const std::string range = " is out of range (dates from 1678-01-01 to 2261-12-31).";
    // Seconds since 2001: 2262-01-01 is 8236339200, 1678-01-01 is -10192867200.
    for (const char* seconds : {"5e10", "-1.1e10", "8.3e9", "8236339200", "-10192867201"})
        EXPECT_EQ(termError(json::parse(std::string(R"({"until":{"_0":)") + seconds + "}}")),
                  "Bad date in \"_0\": The date " + json::parse(seconds).dump() + range)
            << seconds;
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"until":{"_0":8e9}})")),
              Term::until(referenceDate + std::chrono::seconds(8'000'000'000)));
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"until":{"_0":-10192867200}})")),
              Term::until(Platform::Date(std::chrono::seconds(-9'214'560'000)))); // 1678-01-01, since 1970
    for (const char* text : {"9999-12-31T00:00:00Z", "2262-01-01T00:00:00Z", "1677-12-31T23:59:59Z"}) {
        try {
            (void)LumraKit::termFromJSON(json::parse(std::string(R"({"until":{"_0":")") + text + "\"}}"),
                                         JSONCoder::iso);
            ADD_FAILURE() << text << " decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.what(), "Bad date in \"_0\": The date " + std::string(text) + range);
        }
    }
    EXPECT_EQ(LumraKit::termFromJSON(json::parse(R"({"until":{"_0":"2261-12-31T23:59:59Z"}})"), JSONCoder::iso),
              Term::until(Platform::Date(std::chrono::seconds(9214646399))));
}

TEST(ClaimJSON, TheFullShape) {
    Claim claim = Claim::restored(*UUID::parse(someID), "you", false, Claim::defaultModes, false, false, "",
                                  Term::until(referenceDate + 10s), referenceDate + 2500ms);
    EXPECT_EQ(LumraKit::toJSON(claim), json::parse(R"({"id":"1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B","owner":"you",
        "forced":false,"modes":["lid","idle"],"wantsLid":false,"lidGranted":false,"onEnd":"",
        "term":{"until":{"_0":10.0}},"startedAt":2.5})"));
}

TEST(ClaimJSON, RoundTripsEveryField) {
    Claim claims[] = {
        Claim::restored(*UUID::parse(someID), "Builder \xE2\x9C\x93", true, {Mode::idle, Mode::display}, true, true,
                        "notify \"me\"", Term::whilePid(4711, 1767225600.125), Platform::Date(1767225600s + 500ms)),
        Claim(" app ", false, {}, Term::until(referenceDate - 1h), referenceDate, false),
        Claim("you", false, Claim::defaultModes, Term(), Platform::Date(1767225600s)),
    };
    for (const auto& claim : claims) {
        EXPECT_EQ(LumraKit::claimFromJSON(LumraKit::toJSON(claim)), claim);
        EXPECT_EQ(LumraKit::claimFromJSON(LumraKit::toJSON(claim, JSONCoder::iso), JSONCoder::iso).term.kind(),
                  claim.term.kind());
        EXPECT_EQ(LumraKit::claimFromJSON(JSONCoder::plain.decode(JSONCoder::plain.encode(LumraKit::toJSON(claim)))),
                  claim);
    }
}

TEST(ClaimJSON, OptionalKeysAbsentOrNullTakeTheirDefaults) {
    Claim decoded = LumraKit::claimFromJSON(minimalClaim());
    EXPECT_FALSE(decoded.wantsLid);
    EXPECT_FALSE(decoded.lidGranted);
    EXPECT_EQ(decoded.onEnd, "");
    EXPECT_EQ(decoded.startedAt, Platform::Date(1767225600s));
    json nulls = minimalClaim();
    nulls["wantsLid"] = nullptr;
    nulls["lidGranted"] = nullptr;
    nulls["onEnd"] = nullptr;
    EXPECT_EQ(LumraKit::claimFromJSON(nulls), decoded);
}

TEST(ClaimJSON, LowerCaseIDsDuplicateModesAndUnknownKeysAreAccepted) {
    json value = minimalClaim();
    value["id"] = "1f0a2b3c-4d5e-4f60-8a7b-9c0d1e2f3a4b";
    value["modes"] = json::array({"idle", "lid", "idle", "display"});
    value["color"] = "blue";
    value["owner"] = "  spaced \"owner\"\n";
    Claim decoded = LumraKit::claimFromJSON(value);
    EXPECT_EQ(decoded.id.text(), someID);
    EXPECT_EQ(decoded.modes, (LumraKit::ModeSet{Mode::lid, Mode::idle, Mode::display}));
    // Stored owners are taken as they are.
    EXPECT_EQ(decoded.owner, "  spaced \"owner\"\n");
}

TEST(ClaimJSON, MissingRequiredKeysAndWrongTypesFail) {
    EXPECT_EQ(claimError(without(minimalClaim(), "id")), "Missing key \"id\".");
    EXPECT_EQ(claimError(without(minimalClaim(), "owner")), "Missing key \"owner\".");
    EXPECT_EQ(claimError(without(minimalClaim(), "forced")), "Missing key \"forced\".");
    EXPECT_EQ(claimError(without(minimalClaim(), "modes")), "Missing key \"modes\".");
    EXPECT_EQ(claimError(without(minimalClaim(), "term")), "Missing key \"term\".");
    EXPECT_EQ(claimError(without(minimalClaim(), "startedAt")), "Missing key \"startedAt\".");
    EXPECT_EQ(claimError(with(minimalClaim(), "owner", nullptr)), "Key \"owner\" holds null.");
    EXPECT_EQ(claimError(with(minimalClaim(), "owner", 5)), "Expected \"owner\" to be a string, found number.");
    EXPECT_EQ(claimError(with(minimalClaim(), "forced", 1)), "Expected \"forced\" to be true or false, found number.");
    EXPECT_EQ(claimError(with(minimalClaim(), "wantsLid", "yes")),
              "Expected \"wantsLid\" to be true or false, found string.");
    EXPECT_EQ(claimError(with(minimalClaim(), "lidGranted", 0)),
              "Expected \"lidGranted\" to be true or false, found number.");
    EXPECT_EQ(claimError(with(minimalClaim(), "onEnd", false)), "Expected \"onEnd\" to be a string, found boolean.");
    EXPECT_EQ(claimError(with(minimalClaim(), "modes", "idle")),
              "Expected \"modes\" to be an array of mode names, found string.");
    EXPECT_EQ(claimError(with(minimalClaim(), "modes", json::array({"idle", 2}))),
              "Expected \"modes\" to be an array of mode names, found number.");
    EXPECT_EQ(claimError(with(minimalClaim(), "startedAt", "now")),
              "Bad date in \"startedAt\": Expected to decode Double but found string instead.");
    EXPECT_EQ(claimError(json::array()), "Expected \"claim\" to be an object, found array.");
}

TEST(ClaimJSON, AnUnknownModeOrABadIDFailsTheWholeClaim) {
    EXPECT_EQ(claimError(with(minimalClaim(), "modes", json::array({"idle", "sleep"}))),
              "Unknown mode \"sleep\" in \"modes\".");
    EXPECT_EQ(claimError(with(minimalClaim(), "modes", json::array({"Idle"}))), "Unknown mode \"Idle\" in \"modes\".");
    EXPECT_EQ(claimError(with(minimalClaim(), "id", "not-a-uuid")), "Invalid UUID \"not-a-uuid\" in \"id\".");
    EXPECT_EQ(claimError(with(minimalClaim(), "term", json::object())), "Invalid number of keys found, expected one.");
    EXPECT_EQ(claimError(with(minimalClaim(), "term", json::parse(R"({"until":{"_0":1},"indefinite":{}})"))),
              "Invalid number of keys found, expected one.");
}

TEST(ClaimJSON, ListsKeepTheirOrderAndFailWhole) {
    json list = json::array({minimalClaim(), with(minimalClaim(), "owner", "second")});
    auto claims = LumraKit::claimsFromJSON(list);
    ASSERT_EQ(claims.size(), 2u);
    EXPECT_EQ(claims[1].owner, "second");
    EXPECT_EQ(LumraKit::claimsFromJSON(LumraKit::toJSON(claims)), claims);
    list.push_back(with(minimalClaim(), "forced", "no"));
    EXPECT_THROW((void)LumraKit::claimsFromJSON(list), DecodingError);
    EXPECT_THROW((void)LumraKit::claimsFromJSON(minimalClaim()), DecodingError);
    EXPECT_TRUE(LumraKit::claimsFromJSON(json::array()).empty());
}

} // namespace
