#include "ViewsFakes.hpp"

#include <PermissionGrants/Views/Steps.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace ViewsTests;
using PermissionGrants::GrantAction;
using PermissionGrants::Hue;
using Steps = PermissionGrant::Steps;
using Button = Steps::Button;
using Kind = Button::Kind;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

std::vector<PermissionGrant> grantsOf(const std::vector<Switchable>& switchables) {
    std::vector<PermissionGrant> grants;
    for (const auto& switchable : switchables) grants.push_back(switchable.grant);
    return grants;
}

TEST(Steps, PagesAndTheLastPage) {
    struct Case {
        size_t grants;
        bool welcome;
        int count;
        int last;
    };
    const Case cases[] = {{0, false, 1, 0}, {0, true, 1, 0}, {1, false, 1, 0},
                          {1, true, 2, 1},  {2, false, 2, 1}, {3, true, 4, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.grants << " grants, welcome " << c.welcome);
        std::vector<Switchable> switchables;
        for (size_t i = 0; i < c.grants; ++i) switchables.emplace_back("Grant " + std::to_string(i), true, good());
        Steps steps(grantsOf(switchables), c.welcome, {}, Watch().context());
        EXPECT_EQ(steps.pageCount(), c.count);
        EXPECT_EQ(steps.lastPage(), c.last);
        EXPECT_EQ(steps.page(), 0);
        EXPECT_EQ(steps.hasWelcome(), c.welcome);
        if (c.welcome) {
            EXPECT_EQ(steps.pageAt(0), nullptr);
        }
        for (size_t i = 0; i < c.grants; ++i)
            EXPECT_EQ(steps.pageAt(static_cast<int>(i) + (c.welcome ? 1 : 0))->grant().title, "Grant " + std::to_string(i));
        EXPECT_EQ(steps.pageAt(c.count), nullptr);
        EXPECT_EQ(steps.pageAt(-1), nullptr);
    }
}

TEST(Steps, TintPerStandingAndNoneForTheWelcomePage) {
    const std::pair<Standing, std::optional<Hue>> rows[] = {
        {good(), Hue::green}, {askable(), Hue::yellow}, {broken(), Hue::orange}, {unknown(), std::nullopt}};
    for (const auto& [standing, tint] : rows) {
        SCOPED_TRACE(testing::PrintToString(standing));
        Switchable widget("Widget", false, standing);
        Steps steps({widget.grant}, true, {}, Watch().context());
        EXPECT_EQ(steps.tint(0), std::nullopt);
        EXPECT_EQ(steps.tint(1), tint);
        EXPECT_EQ(steps.tint(2), std::nullopt);
    }
}

// The footer's button on the first of two grant pages and on the last,
// per requirement, standing and letter case.
TEST(Steps, ButtonPerPageStandingAndRequirement) {
    struct Case {
        bool required;
        Standing standing;
        Button onFirst;
        Button onLast;
        LetterCase letterCase = LetterCase::title;
    };
    const Case cases[] = {
        {false, askable(), {Kind::skip, "Skip", true, false}, {Kind::skip, "Skip", true, false}},
        {false, broken(), {Kind::skip, "Skip", true, false}, {Kind::skip, "Skip", true, false}},
        {false, good(), {Kind::next, "Continue", true, true}, {Kind::done, "Done", true, true}},
        {false, unknown(), {Kind::next, "Continue", true, true}, {Kind::done, "Done", true, true}},
        {true, askable(), {Kind::next, "Continue", false, false}, {Kind::done, "Done", false, false}},
        {true, broken(), {Kind::next, "Continue", false, false}, {Kind::done, "Done", false, false}},
        {true, good(), {Kind::next, "Continue", true, true}, {Kind::done, "Done", true, true}},
        {true, unknown(), {Kind::next, "Continue", true, true}, {Kind::done, "Done", true, true}},
        {false, askable(), {Kind::skip, "skip", true, false}, {Kind::skip, "skip", true, false}, LetterCase::lower},
        {true, good(), {Kind::next, "continue", true, true}, {Kind::done, "done", true, true}, LetterCase::lower},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.standing) + (c.required ? " required" : " optional"));
        Switchable first("First", c.required, c.standing), last("Last", c.required, c.standing);
        Switchable bridge("Bridge", false, good());
        Steps steps({first.grant, bridge.grant, last.grant}, false, {}, Watch().context(c.letterCase));
        EXPECT_EQ(steps.button(), c.onFirst);
        steps.pressButton();
        EXPECT_EQ(steps.page(), c.onFirst.enabled ? 1 : 0);
        Steps atLast({bridge.grant, last.grant}, false, {}, Watch().context(c.letterCase));
        atLast.pressButton();
        ASSERT_EQ(atLast.page(), 1);
        EXPECT_EQ(atLast.button(), c.onLast);
    }
}

TEST(Steps, WelcomePageContinuesAndTheLastPageFinishesOncePerAppearance) {
    Switchable first("First", true, good()), second("Second", false, askable());
    int done = 0;
    Watch watch;
    Steps steps({first.grant, second.grant}, true, [&] { ++done; }, watch.context());
    steps.appeared();
    EXPECT_EQ(watch.count(), 0u); // the welcome page is no grant's page
    EXPECT_EQ(steps.button(), (Button{Kind::next, "Continue", true, true}));
    EXPECT_EQ(steps.here(), (Steps::Here{0, false}));
    steps.pressButton();
    EXPECT_EQ(steps.page(), 1);
    EXPECT_EQ(steps.here(), (Steps::Here{1, true}));
    EXPECT_EQ(watch.count(), 1u);
    steps.pressButton();
    EXPECT_EQ(steps.page(), 2);
    EXPECT_EQ(watch.count(), 2u);
    EXPECT_EQ(steps.button(), (Button{Kind::skip, "Skip", true, false}));
    steps.pressButton();
    steps.pressButton();
    EXPECT_EQ(steps.page(), 2);
    EXPECT_EQ(done, 1);
    steps.appeared();
    EXPECT_EQ(watch.count(), 3u);
    steps.pressButton();
    EXPECT_EQ(done, 2);
}

// Without a welcome page and with two grants: pages 0 and 1, "Done" on
// page 1, one onDone.
TEST(Steps, TwoGrantsWithoutWelcomeFinishOnPageOne) {
    Switchable first("First", true, good()), second("Second", true, good());
    int done = 0;
    Steps steps({first.grant, second.grant}, false, [&] { ++done; }, Watch().context());
    EXPECT_EQ(steps.button().label, "Continue");
    steps.pressButton();
    EXPECT_EQ(steps.button(), (Button{Kind::done, "Done", true, true}));
    steps.pressButton();
    EXPECT_EQ(steps.page(), 1);
    EXPECT_EQ(done, 1);
}

TEST(Steps, AnEmptyOnboardingShowsOnlyAnEnabledDone) {
    for (bool welcome : {false, true}) {
        int done = 0;
        Steps steps({}, welcome, [&] { ++done; }, Watch().context());
        EXPECT_EQ(steps.pageCount(), 1);
        EXPECT_EQ(steps.button(), (Button{Kind::done, "Done", true, true}));
        EXPECT_EQ(steps.tint(0), std::nullopt);
        EXPECT_TRUE(steps.mayLeave(0));
        steps.pressButton();
        steps.pressButton();
        EXPECT_EQ(steps.page(), 0);
        EXPECT_EQ(done, 1);
    }
}

TEST(Steps, AdvancesByItselfWhenThePageShownTurnsGood) {
    Switchable service("Service", true, askable()), alerts("Alerts", false, askable()), lid("Lid", true, good());
    int done = 0;
    Watch watch;
    Steps steps({service.grant, alerts.grant, lid.grant}, false, [&] { ++done; }, watch.context());
    steps.appeared();
    steps.standingsChanged(); // nothing changed
    EXPECT_EQ(steps.page(), 0);
    service.set(broken());
    steps.standingsChanged();
    EXPECT_EQ(steps.page(), 0);
    service.set(good());
    steps.standingsChanged();
    EXPECT_EQ(steps.page(), 1);
    EXPECT_EQ(watch.count(), 2u);
    // A page not shown turning good moves nothing.
    lid.set(askable());
    lid.set(good());
    steps.standingsChanged();
    EXPECT_EQ(steps.page(), 1);
    alerts.set(good());
    steps.standingsChanged();
    EXPECT_EQ(steps.page(), 2);
    // The last page, good on arrival, waits for its press.
    steps.standingsChanged();
    EXPECT_EQ(done, 0);
    EXPECT_EQ(steps.here(), (Steps::Here{2, true}));
}

// The last page turning good finishes the onboarding; the press that was
// on its way must not finish it twice.
TEST(Steps, TheLastPageTurningGoodFinishesOnceThoughPressedAfter) {
    Switchable service("Service", true, askable());
    int done = 0;
    Steps steps({service.grant}, false, [&] { ++done; }, Watch().context());
    steps.appeared();
    steps.pressButton(); // disabled while the required grant is askable
    EXPECT_EQ(done, 0);
    service.set(good());
    steps.standingsChanged();
    EXPECT_EQ(done, 1);
    steps.pressButton();
    steps.standingsChanged();
    EXPECT_EQ(done, 1);
    service.set(askable());
    steps.standingsChanged();
    service.set(good());
    steps.standingsChanged();
    EXPECT_EQ(done, 1);
}

TEST(Steps, MayLeaveAPageWithoutGrantOrOneOptionalUnknownOrGood) {
    struct Case {
        bool required;
        Standing standing;
        bool mayLeave;
    };
    const Case cases[] = {{true, askable(), false}, {true, broken(), false}, {true, unknown(), true},
                          {true, good(), true},     {false, askable(), true}, {false, broken(), true},
                          {false, unknown(), true}, {false, good(), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.standing) + (c.required ? " required" : " optional"));
        Switchable widget("Widget", c.required, c.standing);
        Steps steps({widget.grant}, true, {}, Watch().context());
        EXPECT_TRUE(steps.mayLeave(0));
        EXPECT_EQ(steps.mayLeave(1), c.mayLeave);
    }
}

TEST(Page, ShowsTheCurrentStandingAndActsWhileItNeedsThePerson) {
    Switchable service("Service", true, askableWithoutNote(), "Keeps The Mac Awake.");
    Watch watch;
    Steps steps({service.grant}, false, {}, watch.context(LetterCase::lower));
    const auto& page = *steps.pageAt(0);
    EXPECT_EQ(page.detailLine(), "Keeps The Mac Awake.");
    EXPECT_EQ(page.trailing(), PermissionGrants::Trailing(GrantAction{Hue::yellow, false, "allow\u2026"}));
    page.press();
    runMainLoop();
    EXPECT_EQ(*service.acted, 1);
    service.set(good());
    EXPECT_EQ(page.standing(), good());
    EXPECT_EQ(page.trailing(), PermissionGrants::Trailing(PermissionGrants::GrantMark{Standing::Grade::good}));
    page.press();
    runMainLoop();
    EXPECT_EQ(*service.acted, 1);
}

} // namespace
