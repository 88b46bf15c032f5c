// The status and claims as people read them.

#include "LocalTime.hpp"
#include "Render.hpp"

#include <Terminal/ANSI.hpp>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace ClientTests;
using LumraKit::Claim;
using LumraKit::Mode;
using LumraKit::ModeSet;
using LumraKit::Status;
using LumraKit::Term;
using LumraKit::UUID;

const Terminal::Palette plain{false};
const Terminal::Palette coloured{true};

Claim restored(const char* id, std::string owner, ModeSet modes, Term term, bool forced = false, bool wantsLid = false,
               bool lidGranted = false, std::string onEnd = "") {
    return Claim::restored(*UUID::parse(id), std::move(owner), forced, modes, wantsLid, lidGranted, std::move(onEnd),
                           term, now - 1h);
}

// One claim of every kind: the user's, a timed forced program claim whose
// lid waits, a process-bound one with lid approved, and one whose free
// texts try to steer the terminal.
Status busy() {
    Status status;
    status.claims = {
        restored("1F0A2B3C-0000-4000-8000-000000000001", "you", {Mode::idle, Mode::lid}, Term::indefinite()),
        restored("2B3C4D5E-0000-4000-8000-000000000002", "backup", {Mode::idle}, Term::until(now + 80min), true, true,
                 false, "say done"),
        restored("3C4D5E6F-0000-4000-8000-000000000003", "builder", {Mode::display}, Term::whilePid(4711, 1796800000.5),
                 false, true, true),
        restored("4D5E6F70-0000-4000-8000-000000000004", "odd\x1B[31m\nowner", {Mode::idle},
                 Term::until(utc("2026-12-10T09:00:00")), false, false, false,
                 "a very long farewell text that goes on and on past the column"),
    };
    status.sleepDisabled = true;
    status.power = {.hasBattery = true, .onAC = false, .discharging = true, .percent = 42, .lowPowerMode = true};
    status.floor = 15;
    status.notifyCommand = "say \"claims ended\"";
    status.keepDisplay = true;
    status.lidArmed = true;
    status.askPending = false;
    status.thermalCritical = true;
    status.notifications = LumraKit::NotificationStore::Reach::silenced;
    status.updateCheck = true;
    status.latestVersion = "1.4.0";
    return status;
}

class Render : public LocalTime {};

TEST_F(Render, StatusWithEveryKindOfClaim) {
    EXPECT_EQ(
        Client::statusText(busy(), now, plain),
        "holding         lid, idle, display\n"
        "sleep disabled  yes (lid closed keeps running)\n"
        "lid armed       yes\n"
        "lid request     none\n"
        "battery         42%, discharging\n"
        "low power mode  on\n"
        "battery floor   15%\n"
        "keep display    on\n"
        "heat            critical\n"
        "notifications   delivered quietly\n"
        "suspended       no\n"
        "update check    on (daily)\n"
        "latest version  1.4.0\n"
        "notify hook     say \"claims ended\"\n"
        "\n"
        "ID        OWNER               MODES         TERM                               NOTES                  ON END\n"
        "1F0A2B3C  you                 lid, idle     until ended\n"
        "2B3C4D5E  backup              idle          until 14:30 (in 1h 20m)            forced, lid requested  say "
        "done\n"
        "3C4D5E6F  builder             lid, display  while pid 4711                     lid approved\n"
        "4D5E6F70  odd\\x1B[31m\\nowner  idle          until tomorrow 09:00 (in 19h 50m)                         "
        "a very long farewell text that goes on …\n");
}

TEST_F(Render, AnIdleEngine) {
    Status status;
    status.power = {.hasBattery = false, .onAC = true, .discharging = false, .percent = 100, .lowPowerMode = false};
    status.askPending = true;
    status.suspendedSince = now - 1h;
    EXPECT_EQ(Client::statusText(status, now, plain), "holding         nothing\n"
                                                      "sleep disabled  no\n"
                                                      "lid armed       no\n"
                                                      "lid request     waiting for approval (lumra allow-lid)\n"
                                                      "battery         none (AC power)\n"
                                                      "low power mode  off\n"
                                                      "battery floor   off\n"
                                                      "keep display    off\n"
                                                      "heat            nominal\n"
                                                      "notifications   unknown\n"
                                                      "suspended       since 12:10 (1h ago)\n"
                                                      "update check    off\n"
                                                      "notify hook     none\n"
                                                      "\n"
                                                      "No claims.\n");
}

// Others' locks come from outside: their texts are escaped like owners.
TEST_F(Render, OtherHoldersAndHowTheDisplayIsHeld) {
    Status status;
    status.displayHold = "idleInhibitor";
    status.otherHolders = std::vector<LumraKit::OtherHolder>{
        {"backupd", "Copying files", "sleep", "block", 4711},
        {"", "Playing\x1B[2J video", "PreventUserIdleDisplaySleep", std::nullopt, std::nullopt},
    };
    std::string text = Client::statusText(status, now, plain);
    EXPECT_NE(text.find("keep display     off\n"
                        "display held by  the idle inhibitor (the session offers no screen saver)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\nAlso keeping the machine awake:\n"
                        "  backupd (pid 4711): sleep, block: Copying files\n"
                        "  unknown program: PreventUserIdleDisplaySleep: Playing\\x1B[2J video\n"
                        "\nNo claims.\n"),
              std::string::npos)
        << text;

    status.displayHold = "screenSaver";
    status.otherHolders = std::vector<LumraKit::OtherHolder>{};
    text = Client::statusText(status, now, plain);
    EXPECT_NE(text.find("display held by  the session's screen saver\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Also keeping"), std::string::npos) << text;
}

TEST_F(Render, ColourOnlyWhenWantedAndNeverInTheText) {
    std::string withColour = Client::statusText(busy(), now, coloured);
    std::string without = Client::statusText(busy(), now, plain);
    EXPECT_NE(withColour.find('\x1B'), std::string::npos);
    EXPECT_EQ(without.find('\x1B'), std::string::npos);
    // Colour changes the look, never the content or the alignment.
    EXPECT_EQ(Terminal::ANSI::strip(withColour), without);
}

TEST_F(Render, TermsInWords) {
    EXPECT_EQ(Client::termWords(Term::indefinite(), now), "until ended");
    EXPECT_EQ(Client::termWords(Term::until(now + 45s), now), "until 13:10:45 (in 45s)");
    EXPECT_EQ(Client::termWords(Term::until(now + 3 * 24h), now), "until 2026-12-12 13:10 (in 3d)");
    // A claim the service has not swept yet.
    EXPECT_EQ(Client::termWords(Term::until(now - 1s), now), "until 13:09:59 (due now)");
    EXPECT_EQ(Client::termWords(Term::whilePid(4711, 1.5), now), "while pid 4711");
}

TEST_F(Render, OneClaimOnOneLine) {
    EXPECT_EQ(Client::claimLine(busy().claims[1], now), "2B3C4D5E backup: idle, until 14:30 (in 1h 20m)");
    EXPECT_EQ(Client::claimLine(busy().claims[3], now),
              "4D5E6F70 odd\\x1B[31m\\nowner: idle, until tomorrow 09:00 (in 19h 50m)");
}

TEST(HeldModes, FollowTheEngine) {
    Status status;
    EXPECT_EQ(Client::heldModes(status), ModeSet{});
    status.keepDisplay = true;
    // Keeping the display lit widens a hold; it never holds on its own.
    EXPECT_EQ(Client::heldModes(status), ModeSet{});
    Claim pending = restored("5E6F7071-0000-4000-8000-000000000005", "backup", {Mode::idle}, Term::indefinite(), false,
                             true, false);
    status.claims = {pending};
    EXPECT_EQ(Client::heldModes(status), (ModeSet{Mode::idle, Mode::display}));
    status.suspendedSince = now;
    EXPECT_EQ(Client::heldModes(status), ModeSet{});
}

} // namespace
