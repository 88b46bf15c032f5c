#include "ViewsFakes.hpp"

#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <PermissionGrants/Views/Steps.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

namespace {

using namespace ViewsTests;
using Steps = PermissionGrant::Steps;
using LaunchAtLogin = PermissionGrant::LaunchAtLogin;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

// "Continue*": enabled and the default; "Done-": disabled; "Skip": neither.
std::string text(const Steps::Button& button) {
    return button.label + (button.isDefault ? "*" : "") + (button.enabled ? "" : "-");
}

std::string text(std::optional<Hue> hue) {
    const char* names[] = {"yellow", "orange", "green"};
    return hue ? names[static_cast<int>(*hue)] : "none";
}

TEST(Steps, PagesAndLastPage) {
    const std::tuple<int, bool, int> rows[] = {{0, false, 1}, {0, true, 1}, {1, false, 1},
                                               {1, true, 2},  {2, false, 2}, {3, true, 4}};
    for (auto [count, welcome, pages] : rows) {
        std::vector<PermissionGrant> grants(static_cast<size_t>(count), Fake("G", true, 'g').grant);
        Steps steps(grants, welcome, {}, Watch().context());
        EXPECT_EQ(std::make_tuple(steps.pageCount(), steps.lastPage(), steps.page()), std::make_tuple(pages, pages - 1, 0));
        EXPECT_EQ(steps.pageAt(0) == nullptr, welcome || count == 0);
        EXPECT_EQ(steps.pageAt(pages), nullptr);
    }
}

// Per requirement and standing of a page's grant: its tint, whether it may
// be left, the button on a page before the last and on the last, and
// whether pressing the page's action acts.
TEST(Steps, TintMayLeaveAndButtonPerPage) {
    const std::tuple<bool, char, const char*, bool, const char*, const char*> rows[] = {
        {false, 'a', "yellow", true, "Skip", "Skip"},          {false, 'b', "orange", true, "Skip", "Skip"},
        {false, 'g', "green", true, "Continue*", "Done*"},     {false, 'u', "none", true, "Continue*", "Done*"},
        {true, 'a', "yellow", false, "Continue-", "Done-"},    {true, 'b', "orange", false, "Continue-", "Done-"},
        {true, 'g', "green", true, "Continue*", "Done*"},      {true, 'u', "none", true, "Continue*", "Done*"}};
    for (auto [required, letter, tint, mayLeave, before, last] : rows) {
        SCOPED_TRACE(std::string(1, letter) + (required ? " required" : ""));
        Fake page("Page", required, letter);
        Steps two({page.grant, page.grant}, false, {}, Watch().context());
        EXPECT_EQ(text(two.button()), before);
        two.pressButton();
        EXPECT_EQ(two.page(), std::string(before).ends_with("-") ? 0 : 1);
        Steps welcomed({page.grant}, true, {}, Watch().context(Case::lower));
        EXPECT_EQ(text(welcomed.tint(0)) + " " + text(welcomed.tint(1)), std::string("none ") + tint);
        EXPECT_EQ(welcomed.mayLeave(0), true);
        EXPECT_EQ(welcomed.mayLeave(1), mayLeave);
        welcomed.pressButton();
        EXPECT_EQ(text(welcomed.button()), Case(Case::lower).apply(last));
        welcomed.pageAt(1)->press();
        runMainLoop();
        EXPECT_EQ(*page.acted, standing(letter).needsUser() ? 1 : 0);
    }
}

TEST(Steps, WelcomeThenPagesThatAppearAndOneDonePerAppearance) {
    std::vector<Fake> fakes{{"First", true, 'g'}, {"Second", false, 'a'}};
    int done = 0;
    Watch watch;
    Steps steps({fakes[0].grant, fakes[1].grant}, true, [&] { ++done; }, watch.context());
    steps.appeared();
    EXPECT_EQ(watch.reasons->size(), 0u); // a welcome page has no grant to watch
    EXPECT_EQ(text(steps.button()), "Continue*");
    EXPECT_EQ(steps.here(), (Steps::Here{0, false}));
    steps.pressButton();
    EXPECT_EQ(steps.here(), (Steps::Here{1, true}));
    steps.pressButton();
    EXPECT_EQ(std::make_pair(steps.page(), text(steps.button())), std::make_pair(2, std::string("Skip")));
    EXPECT_EQ(watch.reasons->size(), 2u);
    EXPECT_EQ(steps.pageAt(2)->detailLine(), "Asks once.");
    EXPECT_EQ(ViewsTests::text(steps.pageAt(2)->trailing()), "yellow Allow\u2026");
    steps.pressButton();
    steps.pressButton();
    EXPECT_EQ(done, 1);
    steps.appeared();
    steps.pressButton();
    EXPECT_EQ(std::make_pair(done, watch.reasons->size()), std::make_pair(2, size_t(3)));
}

TEST(Steps, AnEmptyOnboardingShowsAnEnabledDoneThatFinishesOnce) {
    for (bool welcome : {false, true}) {
        int done = 0;
        Steps steps({}, welcome, [&] { ++done; }, Watch().context());
        EXPECT_EQ(text(steps.button()), "Done*");
        steps.pressButton();
        steps.pressButton();
        EXPECT_EQ(done, 1);
    }
}

// Only the page shown turning good moves the onboarding on; the last page
// turning good finishes it, and the press already on its way does not again.
TEST(Steps, AdvancesWhenThePageShownTurnsGood) {
    std::vector<Fake> fakes{{"Service", true, 'a'}, {"Lid", true, 'g'}, {"Alerts", false, 'a'}};
    int done = 0;
    Steps steps({fakes[0].grant, fakes[1].grant, fakes[2].grant}, false, [&] { ++done; }, Watch().context());
    steps.appeared();
    const std::tuple<int, char, int, int> rows[] = {
        {0, 'a', 0, 0}, {0, 'b', 0, 0}, {0, 'g', 1, 0}, {2, 'u', 1, 0},
        {2, 'g', 1, 0}, {1, 'b', 1, 0}, {1, 'g', 2, 0}, {2, 'g', 2, 0}};
    for (auto [which, letter, page, finished] : rows) {
        fakes[static_cast<size_t>(which)].set(letter);
        steps.standingsChanged();
        EXPECT_EQ(std::make_pair(steps.page(), done), std::make_pair(page, finished)) << which << letter;
    }
    fakes[2].set('a');
    steps.standingsChanged();
    fakes[2].set('g');
    steps.standingsChanged();
    steps.pressButton();
    EXPECT_EQ(done, 1);
}

// The login item as fake controls see it; the test completes asks by hand.
struct FakeItem {
    Standing standing = Standing::askable("Turn On");
    bool awaiting = false;
    std::vector<std::function<void(bool)>> asks;
    int unregistered = 0, acted = 0;

    LaunchAtLogin::Controls controls() {
        return {[this] { return standing; }, [this] { return awaiting; },
                [this](std::function<void(bool)> done) { asks.push_back(std::move(done)); },
                [this] { ++unregistered, standing = Standing::askable("Turn On"), awaiting = false; },
                [this] { ++acted; }};
    }
    void complete(Standing now, bool nowAwaiting) {
        standing = std::move(now), awaiting = nowAwaiting;
        auto done = std::move(asks.front());
        asks.erase(asks.begin());
        done(standing == Standing::good());
    }
};

TEST(LaunchAtLogin, OnWhileGoodOrAwaitingWithTheNoteAsApprovalLink) {
    const std::tuple<char, bool, bool, const char*> rows[] = {
        {'g', false, true, ""}, {'b', true, true, "Turned Off."}, {'n', true, true, ""},
        {'n', false, false, ""}, {'b', false, false, ""}, {'u', false, false, ""}};
    for (auto [letter, awaiting, on, note] : rows) {
        FakeItem item;
        item.standing = standing(letter), item.awaiting = awaiting;
        Watch watch;
        LaunchAtLogin toggle("Open at login", item.controls(), watch.context());
        toggle.appeared();
        EXPECT_EQ(watch.reasons->size(), 1u);
        EXPECT_EQ(std::make_tuple(toggle.isOn(), toggle.enabled(), toggle.approvalNote().value_or("")),
                  std::make_tuple(on, true, std::string(note)));
        toggle.pressApprovalLink();
        EXPECT_EQ(item.acted, awaiting ? 1 : 0);
    }
}

// Disabled while its ask is in flight, so switching off cannot pull the
// item from under the ask; then it shows what the ask left.
TEST(LaunchAtLogin, DisabledWhileItsAskIsInFlight) {
    FakeItem item;
    LaunchAtLogin toggle("Open at login", item.controls(), Watch().context());
    toggle.refresh();
    int changes = 0;
    toggle.toggle(true, [&] { ++changes; });
    toggle.toggle(false);
    toggle.toggle(true);
    EXPECT_EQ(std::make_tuple(item.asks.size(), item.unregistered, toggle.enabled(), toggle.isOn()),
              std::make_tuple(size_t(1), 0, false, false));
    item.complete(standing('b'), true);
    EXPECT_EQ(std::make_tuple(changes, toggle.enabled(), toggle.isOn(), toggle.approvalNote()),
              std::make_tuple(1, true, true, std::optional<std::string>("Turned Off.")));
    toggle.toggle(true);
    toggle.toggle(false);
    toggle.toggle(false);
    EXPECT_EQ(std::make_tuple(item.asks.size(), item.unregistered, toggle.isOn()), std::make_tuple(size_t(0), 1, false));
}

TEST(LaunchAtLogin, ACompletionAfterTheViewIsGoneTouchesNothing) {
    FakeItem item;
    int changes = 0;
    {
        LaunchAtLogin toggle("Open at login", item.controls(), Watch().context());
        toggle.toggle(true, [&] { ++changes; });
        LaunchAtLogin moved = std::move(toggle);
        EXPECT_FALSE(moved.enabled());
    }
    item.complete(standing('g'), false);
    EXPECT_EQ(changes, 0);
}

TEST(LaunchAtLogin, ItsGrantIsTheLoginItemForEveryone) {
    PermissionGrant grant = LaunchAtLogin::grant();
    EXPECT_EQ(std::make_tuple(grant.title, grant.why, grant.symbol, grant.required),
              std::make_tuple("open at login", "", "gearshape.2", false));
    const auto& service = std::get<PermissionGrant::Kind::BackgroundService>(grant.kind.value);
    EXPECT_EQ(service.job.kind(), AppInstallation::Job::Kind::loginItem());
    EXPECT_EQ(service.installFor, std::vector<AppInstallation::Scope>{AppInstallation::Scope::everyone});
}

} // namespace
