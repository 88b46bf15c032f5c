#include "ViewsFakes.hpp"

#include <PermissionGrants/Views/Sheet.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace ViewsTests;
using PermissionGrants::GrantAction;
using PermissionGrants::GrantMark;
using PermissionGrants::Hue;
using Row = PermissionGrant::Row;
using Section = PermissionGrant::Section;
using Sheet = PermissionGrant::Sheet;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

// What happens to a row: it appears, the application becomes active, the
// grant's standing changes while the row is visible (and is reported), or
// the standing changes without the row hearing of it.
struct Event {
    enum Kind { appear, active, changed, quiet } kind;
    Standing standing = good();
};

std::vector<std::string> titlesOf(const Section& section) {
    std::vector<std::string> titles;
    for (const auto& row : section.rows()) titles.push_back(row.grant().title);
    return titles;
}

TEST(Row, ShowsTheRememberedStandingAsTheEventsSay) {
    struct Case {
        const char* what;
        Standing start;
        std::vector<Event> events;
        Standing shown;
        size_t watched;
    };
    const Case cases[] = {
        {"nothing happened yet: the current standing", askable(), {{Event::quiet, broken()}}, broken(), 0},
        {"appearing shows the current standing", unknown(), {{Event::appear}}, unknown(), 1},
        {"askable stays askable when the ask turned it broken", askable(),
         {{Event::appear}, {Event::changed, broken()}}, askable(), 1},
        {"and shows broken once the application is active again", askable(),
         {{Event::appear}, {Event::changed, broken()}, {Event::active}}, broken(), 1},
        {"or once the row appears again", askable(),
         {{Event::appear}, {Event::changed, broken()}, {Event::appear}}, broken(), 2},
        {"askable shows good at once", askable(), {{Event::appear}, {Event::changed, good()}}, good(), 1},
        {"askable shows unknown at once", askable(), {{Event::appear}, {Event::changed, unknown()}}, unknown(), 1},
        {"broken shows askable at once", broken(), {{Event::appear}, {Event::changed, askable()}}, askable(), 1},
        {"good shows broken at once", good(), {{Event::appear}, {Event::changed, broken()}}, broken(), 1},
        {"a kept askable holds through later broken readings", good(),
         {{Event::appear}, {Event::changed, askable()}, {Event::changed, broken()}, {Event::changed, broken()}},
         askable(), 1},
        {"a remembered standing hides a change nobody reported", askable(),
         {{Event::appear}, {Event::quiet, good()}}, askable(), 1},
        {"activation picks that change up", askable(), {{Event::appear}, {Event::quiet, good()}, {Event::active}},
         good(), 1},
        {"before it appeared nothing askable is remembered", askable(), {{Event::changed, broken()}}, broken(), 0},
        {"activation alone remembers", unknown(), {{Event::active}, {Event::quiet, good()}}, unknown(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Switchable widget("Widget", true, c.start);
        Watch watch;
        Row row(widget.grant, Row::Style::card, watch.context());
        for (const auto& event : c.events) {
            switch (event.kind) {
            case Event::appear: row.appeared(); break;
            case Event::active: row.becameActive(); break;
            case Event::changed: widget.set(event.standing); row.changed(event.standing); break;
            case Event::quiet: widget.set(event.standing); break;
            }
        }
        EXPECT_EQ(row.shown(), c.shown);
        EXPECT_EQ(row.trailing(), PermissionGrants::trailing(c.shown, LetterCase::title));
        EXPECT_EQ(row.detailLine(), PermissionGrants::detailLine(widget.grant, c.shown));
        EXPECT_EQ(*watch.reasons, std::vector<std::string>(c.watched, "a surface appeared"));
        EXPECT_EQ(row.style(), Row::Style::card);
    }
}

TEST(Row, WordsFollowTheShownStandingInTheLetterCase) {
    Switchable camera("Camera", true, askable(), "Video Calls Need It.");
    Row row(camera.grant, Row::Style::row, Watch().context(LetterCase::lower));
    row.appeared();
    camera.set(broken());
    row.changed(broken());
    EXPECT_EQ(row.trailing(), PermissionGrants::Trailing(GrantAction{Hue::yellow, false, "allow\u2026"}));
    EXPECT_EQ(row.detailLine(), "Asks once.");
    row.becameActive();
    EXPECT_EQ(row.trailing(), PermissionGrants::Trailing(GrantAction{Hue::orange, false, "open settings\u2026"}));
    EXPECT_EQ(row.detailLine(), "Turned off in Settings.");
    EXPECT_EQ(row.grant().title, "Camera");
}

TEST(Row, PressingActsOnTheGrantOnlyWhenItShowsAnAction) {
    const std::pair<Standing, int> rows[] = {{askable(), 1}, {broken(), 1}, {unknown(), 0}, {good(), 0}};
    for (const auto& [standing, acts] : rows) {
        SCOPED_TRACE(testing::PrintToString(standing));
        Switchable widget("Widget", false, standing);
        Row row(widget.grant, Row::Style::row, Watch().context());
        row.press();
        runMainLoop();
        EXPECT_EQ(*widget.acted, acts);
    }
}

TEST(Section, PutsRequiredGrantsFirstKeepingTheGivenOrderOtherwise) {
    struct Case {
        std::vector<std::pair<const char*, bool>> grants; // title, required
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {{}, {}},
        {{{"a", false}, {"b", true}, {"c", false}, {"d", true}}, {"b", "d", "a", "c"}},
        {{{"a", true}, {"b", true}, {"c", false}}, {"a", "b", "c"}},
        {{{"c", false}, {"a", false}, {"b", false}}, {"c", "a", "b"}},
        {{{"z", false}, {"y", false}, {"x", true}}, {"x", "z", "y"}},
    };
    for (const auto& c : cases) {
        std::vector<PermissionGrant> grants;
        for (auto [title, required] : c.grants) grants.push_back(Switchable(title, required, good()).grant);
        Watch watch;
        Section titled("Things", grants, "Footnote.", watch.context());
        Section bare(grants);
        EXPECT_EQ(titlesOf(titled), c.order);
        EXPECT_EQ(titlesOf(bare), c.order);
        EXPECT_EQ(titled.title(), "Things");
        EXPECT_EQ(titled.footer(), "Footnote.");
        EXPECT_EQ(bare.title(), std::nullopt);
        EXPECT_EQ(bare.footer(), std::nullopt);
        titled.appeared();
        EXPECT_EQ(watch.count(), c.order.size());
    }
}

TEST(Section, PassesActivationToEveryRow) {
    Switchable first("First", true, askable()), second("Second", false, askable());
    Section section({first.grant, second.grant}, std::nullopt, Watch().context());
    section.appeared();
    for (const auto& grant : {first, second}) grant.set(broken());
    for (auto& row : section.rows()) row.changed(broken());
    for (const auto& row : section.rows()) EXPECT_EQ(row.shown(), askable());
    section.becameActive();
    for (const auto& row : section.rows()) EXPECT_EQ(row.shown(), broken());
}

// Sections, their rows, the optional note and the button, per mix of
// grants, standings and letter case.
TEST(Sheet, SectionsAndButtonPerMixOfGrants) {
    struct Grant {
        const char* title;
        bool required;
        Standing standing;
    };
    struct Case {
        const char* what;
        std::vector<Grant> grants;
        LetterCase letterCase;
        std::vector<std::pair<std::string, std::vector<std::string>>> sections;
        std::optional<std::string> optionalFooter;
        std::string button;
    };
    const Case cases[] = {
        {"only optional grants: no Required section, Done whatever they stand",
         {{"Camera", false, askable()}, {"Mic", false, broken()}, {"Files", false, unknown()}},
         LetterCase::title,
         {{"Optional", {"Camera", "Mic", "Files"}}},
         "Later is fine.",
         "Done"},
        {"only required grants: no Optional section",
         {{"Service", true, good()}, {"Lid", true, unknown()}},
         LetterCase::title,
         {{"Required", {"Service", "Lid"}}},
         std::nullopt,
         "Done"},
        {"a required askable grant: Later",
         {{"Alerts", false, good()}, {"Service", true, askable()}},
         LetterCase::title,
         {{"Required", {"Service"}}, {"Optional", {"Alerts"}}},
         "Later is fine.",
         "Later"},
        {"a required broken grant: Later",
         {{"Service", true, broken()}, {"Alerts", false, askable()}},
         LetterCase::title,
         {{"Required", {"Service"}}, {"Optional", {"Alerts"}}},
         "Later is fine.",
         "Later"},
        {"lower case: section titles and button lowered",
         {{"Service", true, askable()}, {"Alerts", false, good()}},
         LetterCase::lower,
         {{"required", {"Service"}}, {"optional", {"Alerts"}}},
         "Later is fine.",
         "later"},
        {"lower case, every required grant good",
         {{"Service", true, good()}, {"Lid", true, unknown()}, {"Alerts", false, broken()}},
         LetterCase::lower,
         {{"required", {"Service", "Lid"}}, {"optional", {"Alerts"}}},
         "Later is fine.",
         "done"},
        {"no grants: no sections", {}, LetterCase::title, {}, std::nullopt, "Done"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<PermissionGrant> grants;
        for (const auto& grant : c.grants) grants.push_back(Switchable(grant.title, grant.required, grant.standing).grant);
        int done = 0;
        Sheet sheet("Lumra", "Grants", grants, "Later is fine.", [&] { ++done; }, Watch().context(c.letterCase));
        std::vector<std::pair<std::string, std::vector<std::string>>> sections;
        for (const auto& section : sheet.sections()) sections.emplace_back(section.title().value_or("-"), titlesOf(section));
        EXPECT_EQ(sections, c.sections);
        const auto& last = sheet.sections();
        if (!last.empty() && last.back().title() == LetterCase(c.letterCase).apply("Optional")) {
            EXPECT_EQ(last.back().footer(), c.optionalFooter);
        } else {
            EXPECT_EQ(c.optionalFooter, std::nullopt);
        }
        if (!last.empty() && last.front().title() == LetterCase(c.letterCase).apply("Required")) {
            EXPECT_EQ(last.front().footer(), std::nullopt);
        }
        EXPECT_EQ(sheet.buttonLabel(), c.button);
        sheet.pressButton();
        EXPECT_EQ(done, 1);
    }
}

// Lower case reaches the labels the pieces make, never the grant's own
// words; the rows share the sheet's context.
TEST(Sheet, LowerCaseLeavesTitlesNotesAndWhyAlone) {
    Switchable service("Background Service", true, askable(), "Keeps The Mac Awake.");
    Switchable alerts("Alerts", false, broken(), "Tells You When Claims End.");
    Watch watch;
    Sheet sheet("Lumra Needs", "A Subtitle", {alerts.grant, service.grant}, "Optional Note.", {},
                watch.context(LetterCase::lower));
    EXPECT_EQ(sheet.title(), "Lumra Needs");
    EXPECT_EQ(sheet.subtitle(), "A Subtitle");
    const auto& required = sheet.sections().at(0).rows().at(0);
    const auto& optional = sheet.sections().at(1).rows().at(0);
    EXPECT_EQ(required.grant().title, "Background Service");
    EXPECT_EQ(required.detailLine(), "Asks once.");
    EXPECT_EQ(required.trailing(), PermissionGrants::Trailing(GrantAction{Hue::yellow, false, "allow\u2026"}));
    EXPECT_EQ(optional.grant().title, "Alerts");
    EXPECT_EQ(optional.detailLine(), "Turned off in Settings.");
    EXPECT_EQ(optional.trailing(), PermissionGrants::Trailing(GrantAction{Hue::orange, false, "open settings\u2026"}));
    EXPECT_EQ(sheet.sections().at(1).footer(), "Optional Note.");
    service.set(good());
    EXPECT_EQ(sheet.buttonLabel(), "done");
    EXPECT_EQ(required.detailLine(), "Keeps The Mac Awake.");
    EXPECT_EQ(required.trailing(), PermissionGrants::Trailing(GrantMark{Standing::Grade::good}));
    sheet.appeared();
    EXPECT_EQ(watch.count(), 2u);
    sheet.pressButton(); // no onDone given: nothing happens
}

TEST(Sheet, ARowKeepsAskableUntilTheApplicationIsActiveAgain) {
    Switchable service("Service", true, askable());
    Sheet sheet("Lumra", std::nullopt, {service.grant}, std::nullopt, {}, Watch().context());
    sheet.appeared();
    service.set(broken());
    auto& row = sheet.sections().at(0).rows().at(0);
    row.changed(broken());
    EXPECT_EQ(row.shown(), askable());
    EXPECT_EQ(sheet.buttonLabel(), "Later");
    sheet.becameActive();
    EXPECT_EQ(row.shown(), broken());
}

} // namespace
