#include <LumraKit/Claim.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unordered_set>

namespace {

using namespace std::chrono_literals;
using LumraKit::Claim;
using LumraKit::EndReason;
using LumraKit::EngageError;
using LumraKit::Mode;
using LumraKit::ModeSet;
using LumraKit::Term;
using LumraKit::UUID;
using testing::ElementsAre;

const Platform::Date now{1767225600s}; // 2026-01-01T00:00:00Z

Claim claim(std::string_view owner, ModeSet modes, Term term = Term::indefinite()) {
    return Claim(owner, false, modes, term, now);
}

std::vector<std::string> owners(const std::vector<Claim>& claims) {
    std::vector<std::string> names;
    for (const auto& each : claims) names.push_back(each.owner);
    return names;
}

// MARK: - UUID

TEST(UUID, RandomOnesAreVersionFourAndDistinct) {
    std::unordered_set<UUID> seen;
    for (int i = 0; i < 200; ++i) {
        UUID id = UUID::random();
        EXPECT_THAT(id.text(),
                    testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
        EXPECT_TRUE(seen.insert(id).second);
    }
}

TEST(UUID, ParsesEitherCaseAndWritesUpperCase) {
    auto lower = UUID::parse("1f0a2b3c-4d5e-4f60-8a7b-9c0d1e2f3a4b");
    auto upper = UUID::parse("1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->text(), "1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B");
    EXPECT_EQ(std::hash<UUID>{}(*lower), std::hash<UUID>{}(*upper));
    EXPECT_EQ(UUID::parse(UUID().text()), UUID());
}

TEST(UUID, RejectsAnythingButTheCanonicalLayout) {
    for (const char* bad : {"", "1F0A2B3C4D5E4F608A7B9C0D1E2F3A4B", "1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4",
                            "1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4BC", "1F0A2B3C-4D5E-4F60-8A7B_9C0D1E2F3A4B",
                            "1F0A2B3G-4D5E-4F60-8A7B-9C0D1E2F3A4B", "{1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A}",
                            "1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4\xC3", " 1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4"})
        EXPECT_EQ(UUID::parse(bad), std::nullopt) << bad;
}

// MARK: - Mode sets

TEST(ModeSet, IteratesInDeclarationOrderWithoutDuplicates) {
    ModeSet modes{Mode::display, Mode::lid, Mode::display};
    EXPECT_THAT(std::vector<Mode>(modes.begin(), modes.end()), ElementsAre(Mode::lid, Mode::display));
    EXPECT_EQ(modes.size(), 2u);
    EXPECT_EQ(LumraKit::debugText(Claim::defaultModes), "[lid, idle]");
    EXPECT_EQ(LumraKit::debugText(ModeSet{}), "[]");
}

TEST(ModeSet, SubsetsUnionsAndRemoval) {
    EXPECT_TRUE(ModeSet{}.isSubsetOf(ModeSet{}));
    EXPECT_TRUE((ModeSet{Mode::idle}.isSubsetOf(Claim::defaultModes)));
    EXPECT_FALSE((ModeSet{Mode::idle, Mode::display}.isSubsetOf(Claim::defaultModes)));
    ModeSet modes = Claim::defaultModes | ModeSet{Mode::display};
    EXPECT_EQ(modes.size(), 3u);
    modes.erase(Mode::lid);
    EXPECT_EQ(modes, (ModeSet{Mode::idle, Mode::display}));
    EXPECT_FALSE(modes.contains(Mode::lid));
}

// MARK: - Owners

TEST(ClaimOwner, QuotesBecomeSingleAndLineBreaksAndOuterSpacesGo) {
    EXPECT_EQ(claim("  \"build\"\n", {Mode::idle}).owner, "'build'");
    EXPECT_EQ(LumraKit::cleanedOwner("a\r\nb\vc\fd\re"), "abcde");
    EXPECT_EQ(LumraKit::cleanedOwner("one\xC2\x85two\xE2\x80\xA8three\xE2\x80\xA9"), "onetwothree");
    EXPECT_EQ(LumraKit::cleanedOwner("\t inner  space \t"), "inner  space");
    // No-break, em and ideographic spaces are space separators too.
    EXPECT_EQ(LumraKit::cleanedOwner("\xC2\xA0\xE2\x80\x83make\xE3\x80\x80"), "make");
    // A line break between spaces leaves nothing but spaces, which go too.
    EXPECT_EQ(LumraKit::cleanedOwner(" \n \xE2\x80\xA8 "), "");
}

TEST(ClaimOwner, OtherWhiteSpaceAndNonSpacesStay) {
    // A zero-width space is not a space separator; U+00A0 inside is kept.
    EXPECT_EQ(LumraKit::cleanedOwner("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");
    EXPECT_EQ(LumraKit::cleanedOwner("a\xC2\xA0z"), "a\xC2\xA0z");
}

TEST(ClaimOwner, BytesThatAreNotUTF8AreKept) {
    EXPECT_EQ(LumraKit::cleanedOwner(" \xFF\"x\xC3 "), "\xFF'x\xC3");
    // A lone continuation byte of a line separator is not a line break.
    EXPECT_EQ(LumraKit::cleanedOwner("\x80\xA8"), "\x80\xA8");
    EXPECT_EQ(LumraKit::cleanedOwner("\xE2\x80"), "\xE2\x80");
    // An encoded surrogate is not a character.
    EXPECT_EQ(LumraKit::cleanedOwner("\xED\xA0\x80 "), "\xED\xA0\x80");
}

TEST(ClaimOwner, NewClaimsGetFreshIDsAndNoApproval) {
    Claim first(" app ", true, {Mode::idle}, Term::until(now + 1h), now, true, "bye");
    Claim second(" app ", true, {Mode::idle}, Term::until(now + 1h), now, true, "bye");
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.owner, "app");
    EXPECT_TRUE(first.forced && first.wantsLid);
    EXPECT_FALSE(first.lidGranted);
    EXPECT_EQ(first.onEnd, "bye");
    second.id = first.id;
    EXPECT_EQ(first, second);
    second.lidGranted = true;
    EXPECT_NE(first, second);
}

TEST(ClaimOwner, RestoredClaimsKeepTheOwnerAsGiven) {
    Claim stored = Claim::restored(UUID(), " \"raw\"\n", false, {}, false, true, "", Term(), now);
    EXPECT_EQ(stored.owner, " \"raw\"\n");
    EXPECT_TRUE(stored.lidGranted);
}

// MARK: - Derived values

TEST(ClaimModes, LidJoinsTheEffectiveModesOnlyOnceApproved) {
    Claim asking(" app", false, {Mode::idle}, Term(), now, true);
    EXPECT_EQ(asking.effectiveModes(), ModeSet{Mode::idle});
    asking.lidGranted = true;
    EXPECT_EQ(asking.effectiveModes(), (ModeSet{Mode::idle, Mode::lid}));
    asking.wantsLid = false;
    EXPECT_EQ(asking.effectiveModes(), ModeSet{Mode::idle});
}

TEST(ClaimKey, OwnersDifferingInCaseShareOneKeyUnlessTiedToAProcess) {
    EXPECT_EQ(claim("Xcode", {Mode::idle}).key(), "owner:xcode");
    EXPECT_EQ(claim("XCODE", {Mode::idle}, Term::until(now)).key(), "owner:xcode");
    EXPECT_EQ(claim("Xcode", {Mode::idle}, Term::whilePid(10, 1.5)).key(), "pid:10");
    EXPECT_EQ(claim("Xcode", {Mode::idle}, Term::whilePid(11, 1.5)).key(), "pid:11");
    EXPECT_EQ(claim("x", {}, Term::whilePid(-1, 0)).key(), "pid:-1");
}

TEST(ClaimKey, LowerCaseIsUnicodeAware) {
    EXPECT_EQ(claim("ÉCLAIR Ω", {}).key(), "owner:éclair ω");
    EXPECT_EQ(LumraKit::lowercased("ÀB\xFF"
                                   "C"),
              "àb\xFF"
              "c");
    // Full case mapping: a dotted capital I keeps its dot as a combining mark.
    EXPECT_EQ(LumraKit::lowercased("\xC4\xB0"), "i\xCC\x87");
}

// MARK: - Coverage

TEST(ClaimCovers, IndefiniteCoversAnyTermWithFewerModes) {
    Claim holder = claim("you", Claim::defaultModes);
    EXPECT_TRUE(holder.covers(claim("app", {Mode::idle}, Term::until(now + 1h))));
    EXPECT_TRUE(holder.covers(claim("app", {Mode::idle}, Term::whilePid(5, 1))));
    EXPECT_TRUE(holder.covers(claim("app", Claim::defaultModes)));
    EXPECT_TRUE(holder.covers(claim("app", {})));
}

TEST(ClaimCovers, UntilCoversOnlyAnEarlierOrEqualUntil) {
    Claim tenOClock = claim("you", Claim::defaultModes, Term::until(now + 10h));
    EXPECT_TRUE(tenOClock.covers(claim("app", {Mode::idle}, Term::until(now + 10h))));
    EXPECT_TRUE(tenOClock.covers(claim("app", {Mode::idle}, Term::until(now + 9h))));
    EXPECT_FALSE(tenOClock.covers(claim("app", {Mode::idle}, Term::until(now + 10h + 1min))));
    EXPECT_FALSE(tenOClock.covers(claim("app", {Mode::idle})));
    EXPECT_FALSE(tenOClock.covers(claim("app", {Mode::idle}, Term::whilePid(5, 1))));
}

TEST(ClaimCovers, AProcessClaimCoversNothing) {
    Claim process = claim("app", Claim::defaultModes, Term::whilePid(5, 1));
    EXPECT_FALSE(process.covers(claim("other", {Mode::idle}, Term::whilePid(5, 1))));
    EXPECT_FALSE(process.covers(claim("other", {Mode::idle}, Term::until(now))));
    EXPECT_FALSE(process.covers(claim("other", {})));
}

TEST(ClaimCovers, NeverWhenTheOtherWantsAModeItLacks) {
    Claim idleOnly = claim("you", {Mode::idle});
    EXPECT_FALSE(idleOnly.covers(claim("app", {Mode::display}, Term::until(now))));
    // An approved lid request counts as lid, on either side.
    Claim approved(" app", false, {Mode::idle}, Term::until(now), now, true);
    approved.lidGranted = true;
    EXPECT_FALSE(idleOnly.covers(approved));
    Claim approvedHolder = approved;
    approvedHolder.term = Term::indefinite();
    EXPECT_TRUE(approvedHolder.covers(claim("x", Claim::defaultModes, Term::until(now))));
}

// MARK: - Matching

TEST(ClaimMatching, OwnerPrefixIgnoringCaseOrTheExactProcessID) {
    std::vector<Claim> claims{claim("make", {}, Term::whilePid(12, 1)), claim("Builder", {}),
                              claim("tool", {}, Term::whilePid(123, 1)), claim("12monkeys", {}), claim("you", {})};
    EXPECT_THAT(owners(Claim::matching("12", claims)), ElementsAre("make", "12monkeys"));
    EXPECT_THAT(owners(Claim::matching("bUILD", claims)), ElementsAre("Builder"));
    EXPECT_THAT(owners(Claim::matching("", claims)), ElementsAre("make", "Builder", "tool", "12monkeys", "you"));
    EXPECT_THAT(owners(Claim::matching("uild", claims)), testing::IsEmpty());
    EXPECT_THAT(owners(Claim::matching("012", claims)), testing::IsEmpty());
}

// MARK: - End reasons and refusals

struct ReasonRow {
    EndReason reason;
    std::string label;
    bool outOfBand;
    std::string debug;
};

TEST(EndReason, LabelsOutOfBandAndDebugTexts) {
    const ReasonRow rows[] = {
        {EndReason::requested(), "requested", false, "requested"},
        {EndReason::expired(), "expired", false, "expired"},
        {EndReason::pidExited(4711), "pid-exited:4711", false, "pidExited(4711)"},
        {EndReason::batteryFloor(12), "battery-floor:12", true, "batteryFloor(12)"},
        {EndReason::lowPowerMode(), "low-power-mode", true, "lowPowerMode"},
        {EndReason::thermal(), "thermal", true, "thermal"},
        {EndReason::externalOff(), "external-off", false, "externalOff"},
        {EndReason::shutdown(), "shutdown", false, "shutdown"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.reason.label(), row.label);
        EXPECT_EQ(row.reason.outOfBand(), row.outOfBand) << row.label;
        EXPECT_EQ(LumraKit::debugText(row.reason), row.debug);
    }
    EXPECT_EQ(EndReason::pidExited(-3).label(), "pid-exited:-3");
}

TEST(EndReason, EqualOnlyWithTheSameCaseAndPayload) {
    EXPECT_EQ(EndReason::pidExited(7), EndReason::pidExited(7));
    EXPECT_NE(EndReason::pidExited(7), EndReason::pidExited(8));
    EXPECT_NE(EndReason::pidExited(7), EndReason::batteryFloor(7));
    EXPECT_NE(EndReason::thermal(), EndReason::shutdown());
}

TEST(EngageError, MessagesAndDebugTexts) {
    EXPECT_EQ(EngageError::belowFloor(8, 10).message(), "Battery 8% is at or below your 10% floor. Not arming.");
    EXPECT_EQ(EngageError::lidFailed("Error: Insufficient privileges").message(),
              "pmset failed: Error: Insufficient privileges");
    EXPECT_EQ(EngageError::grantMissing().message(), "The sudoers grant is missing. Run: lumra grant");
    EXPECT_EQ(EngageError::thermalCritical().message(),
              "The Mac is at critical heat. Not arming lid-closed survival until it cools.");
    EXPECT_EQ(LumraKit::debugText(EngageError::belowFloor(8, 10)), "belowFloor(percent: 8, floor: 10)");
    EXPECT_EQ(LumraKit::debugText(EngageError::lidFailed("a\nb")), "lidFailed(\"a\\nb\")");
    EXPECT_EQ(LumraKit::debugText(EngageError::grantMissing()), "grantMissing");
    EXPECT_EQ(EngageError::belowFloor(8, 10), EngageError::belowFloor(8, 10));
    EXPECT_NE(EngageError::belowFloor(8, 10), EngageError::belowFloor(8, 11));
    EXPECT_NE(EngageError::lidFailed("a"), EngageError::lidFailed("b"));
}

TEST(EndReasonDeathTest, PayloadOfAnotherCaseStopsTheProcess) {
    EXPECT_DEATH((void)EndReason::expired().pid(), "EndReason::pid\\(\\) of a reason other than pidExited");
    EXPECT_DEATH((void)EndReason::pidExited(3).percent(), "EndReason::percent\\(\\)");
    EXPECT_DEATH((void)EngageError::grantMissing().detail(), "EngageError::detail\\(\\)");
    EXPECT_DEATH((void)EngageError::lidFailed("x").floor(), "EngageError::floor\\(\\)");
}

// MARK: - Debugging texts

TEST(ClaimDebugText, CompactAndOnOneLine) {
    Claim you = Claim::restored(*UUID::parse("1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B"), "you", false, Claim::defaultModes,
                                false, false, "", Term::until(now + 10h), now);
    EXPECT_EQ(LumraKit::debugText(you), "Claim(id: 1F0A2B3C, owner: \"you\", modes: [lid, idle], "
                                        "term: until(2026-01-01T10:00:00Z), forced: false)");
    Claim app = Claim::restored(you.id, "a\"b\nc", true, {Mode::idle}, true, false, "bye\r",
                                Term::whilePid(4711, 1767225600.25), now);
    EXPECT_EQ(LumraKit::debugText(app),
              "Claim(id: 1F0A2B3C, owner: \"a\\\"b\\nc\", modes: [idle], term: whilePid(pid: 4711, started: "
              "1767225600.250000), forced: true, wantsLid: true, lidGranted: false, onEnd: \"bye\\r\")");
    EXPECT_EQ(LumraKit::debugText(std::vector<Claim>{}), "[]");
    EXPECT_EQ(LumraKit::debugText(std::vector<Claim>{you, you}),
              "[" + LumraKit::debugText(you) + ", " + LumraKit::debugText(you) + "]");
    EXPECT_EQ(LumraKit::debugText(Term()), "indefinite");
}

TEST(ClaimDebugText, EscapesLineSeparatorsAndBadBytes) {
    Claim odd = Claim::restored(UUID(), "x\xE2\x80\xA8y\xFFz\x1B", false, {}, false, false, "", Term(), now);
    EXPECT_THAT(LumraKit::debugText(odd), testing::HasSubstr("owner: \"x\\u{2028}y\\xFFz\\u{1B}\""));
}

} // namespace
