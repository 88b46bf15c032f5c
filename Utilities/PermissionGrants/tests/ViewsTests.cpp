#include "ViewsFakes.hpp"

#include <PermissionGrants/Views/Chip.hpp>
#include <PermissionGrants/Views/Sheet.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace ViewsTests;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

TEST(GrantWords, DetailLineAndTrailingPerStandingWithTheCaseOnTheActionOnly) {
    const std::tuple<char, const char*, const char*, const char*> rows[] = {
        {'a', "Asks once.", "yellow Allow\u2026", "yellow allow\u2026"},
        {'n', "Why It Matters.", "yellow Allow\u2026", "yellow allow\u2026"},
        {'b', "Turned Off.", "orange Open Settings\u2026", "orange open settings\u2026"},
        {'u', "Cannot tell.", "mark unknown", "mark unknown"},
        {'g', "Why It Matters.", "mark good", "mark good"}};
    Fake widget("Widget", true, 'g');
    for (auto [letter, detail, title, lower] : rows) {
        EXPECT_EQ(detailLine(widget.grant, standing(letter)), detail);
        EXPECT_EQ(text(trailing(standing(letter), Case::title)), title);
        EXPECT_EQ(text(trailing(standing(letter), Case::lower)), lower);
    }
    EXPECT_EQ(Case(Case::lower).apply("\u00D6FFNEN \u0391"), "\u00F6ffnen \u03B1");
    Watch watch;
    watch.context().surfaceAppeared();
    EXPECT_EQ(*watch.reasons, std::vector<std::string>{"a surface appeared"});
}

// Events: ^ appears, * becomes active, a lower-case letter: the standing
// changes while visible, an upper-case one: it changes unreported.
TEST(Row, ShowsTheRememberedStandingAsTheEventsSay) {
    const std::tuple<char, const char*, char, size_t> rows[] = {
        {'a', "B", 'b', 0},    {'u', "^", 'u', 1},   {'a', "^b", 'a', 1},  {'a', "^b*", 'b', 1},
        {'a', "^b^", 'b', 2},  {'a', "^g", 'g', 1},  {'a', "^u", 'u', 1},  {'b', "^a", 'a', 1},
        {'g', "^b", 'b', 1},   {'g', "^abb", 'a', 1}, {'a', "^G", 'a', 1}, {'a', "^G*", 'g', 1},
        {'a', "b", 'b', 0},    {'u', "*G", 'u', 0}};
    for (auto [start, events, shown, watched] : rows) {
        SCOPED_TRACE(std::string(1, start) + events);
        Fake widget("Widget", false, start);
        Watch watch;
        PermissionGrant::Row row(widget.grant, PermissionGrant::Row::Style::card, watch.context(Case::lower));
        for (const char* event = events; *event; ++event) {
            if (*event == '^') row.appeared();
            else if (*event == '*') row.becameActive();
            else widget.set(static_cast<char>(std::tolower(*event)));
            if (std::islower(*event)) row.changed(standing(*event));
        }
        EXPECT_EQ(row.shown(), standing(shown));
        EXPECT_EQ(text(row.trailing()), text(trailing(standing(shown), Case::lower)));
        EXPECT_EQ(row.detailLine(), detailLine(widget.grant, standing(shown)));
        EXPECT_EQ(*watch.reasons, std::vector<std::string>(watched, "a surface appeared"));
        row.press();
        runMainLoop();
        EXPECT_EQ(*widget.acted, standing(shown).needsUser() ? 1 : 0);
    }
}

// Grants as "T!x": title T, ! when required, x its standing.
std::vector<PermissionGrant> grants(const std::string& spec, std::vector<Fake>* fakes = nullptr) {
    std::vector<PermissionGrant> result;
    std::istringstream words(spec);
    for (std::string word; words >> word;) {
        Fake fake(word.substr(0, 1), word.size() == 3, word.back());
        result.push_back(fake.grant);
        if (fakes) fakes->push_back(fake);
    }
    return result;
}

std::string rowsOf(const PermissionGrant::Section& section) {
    std::string text;
    for (const auto& row : section.rows()) text += " " + row.grant().title + "[" + ViewsTests::text(row.trailing()) + "]";
    return text;
}

TEST(Section, RequiredGrantsComeFirstInTheGivenOrder) {
    const std::pair<const char*, const char*> rows[] = {
        {"", ""}, {"Ag B!g Cg D!g", " B D A C"}, {"Cg Ag Bg", " C A B"}, {"Zu Yu X!u", " X Z Y"}};
    for (auto [spec, order] : rows) {
        Watch watch;
        PermissionGrant::Section section("Things", grants(spec), "Footnote.", watch.context());
        std::string titles;
        for (const auto& row : section.rows()) titles += " " + row.grant().title;
        EXPECT_EQ(titles, order);
        section.appeared();
        EXPECT_EQ(watch.reasons->size(), section.rows().size());
        EXPECT_EQ(PermissionGrant::Section(grants(spec)).rows().size(), section.rows().size());
    }
}

TEST(Sheet, SectionsAndButtonPerMixOfGrantsAndCase) {
    const std::tuple<const char*, Case::Value, const char*> rows[] = {
        {"Aa Mb Fu", Case::title, "Optional: A[yellow Allow\u2026] M[orange Open Settings\u2026] F[mark unknown] "
                                  "(Note.) | Done"},
        {"S!g L!u", Case::title, "Required: S[mark good] L[mark unknown] | Done"},
        {"Ag S!a", Case::title, "Required: S[yellow Allow\u2026] | Optional: A[mark good] (Note.) | Later"},
        {"S!b Aa", Case::title, "Required: S[orange Open Settings\u2026] | Optional: A[yellow Allow\u2026] (Note.) | Later"},
        {"S!a Ab", Case::lower, "required: S[yellow allow\u2026] | optional: A[orange open settings\u2026] (Note.) | later"},
        {"S!g Ab", Case::lower, "required: S[mark good] | optional: A[orange open settings\u2026] (Note.) | done"},
        {"", Case::title, "Done"}};
    for (auto [spec, letterCase, expected] : rows) {
        int done = 0;
        PermissionGrant::Sheet sheet("Lumra", "Needs", grants(spec), "Note.", [&] { ++done; }, Watch().context(letterCase));
        std::string text;
        for (const auto& section : sheet.sections())
            text += *section.title() + ":" + rowsOf(section) + (section.footer() ? " (" + *section.footer() + ")" : "") + " | ";
        EXPECT_EQ(text + sheet.buttonLabel(), expected);
        sheet.pressButton();
        EXPECT_EQ(done, 1);
    }
}

// A required grant asked turns broken at once: its row keeps the ask until
// the application is active again, the button reads afresh.
TEST(Sheet, KeepsTheAskUntilActiveAndReadsTheButtonAfresh) {
    std::vector<Fake> fakes;
    Watch watch;
    PermissionGrant::Sheet sheet("Lumra", std::nullopt, grants("Ag S!a", &fakes), std::nullopt, {}, watch.context());
    sheet.appeared();
    EXPECT_EQ(watch.reasons->size(), 2u);
    fakes[1].set('b');
    sheet.sections()[0].rows()[0].changed(standing('b'));
    EXPECT_EQ(rowsOf(sheet.sections()[0]) + " " + sheet.buttonLabel(), " S[yellow Allow\u2026] Later");
    sheet.becameActive();
    EXPECT_EQ(rowsOf(sheet.sections()[0]), " S[orange Open Settings\u2026]");
    fakes[1].set('g');
    EXPECT_EQ(sheet.buttonLabel(), "Done");
    EXPECT_EQ(sheet.sections()[1].footer(), std::nullopt);
    sheet.pressButton(); // without onDone: nothing
}

TEST(Chip, AnActionOnlyWhileTheGrantNeedsThePerson) {
    const std::tuple<char, std::optional<std::string>, bool, Case::Value, const char*> rows[] = {
        {'a', std::nullopt, false, Case::title, "yellow Camera, Allow\u2026"},
        {'n', "Use It", true, Case::lower, "yellow fill Use It, allow\u2026"},
        {'b', std::nullopt, true, Case::title, "orange fill Camera, Open Settings\u2026"},
        {'g', "Use It", true, Case::title, ""},
        {'u', std::nullopt, false, Case::title, ""}};
    for (auto [letter, label, fill, letterCase, expected] : rows) {
        Fake camera("Camera", false, letter);
        PermissionGrant::Chip chip(camera.grant, label, fill, Watch().context(letterCase));
        auto action = chip.action();
        EXPECT_EQ(action ? text(*action) : "", expected);
        chip.press();
        runMainLoop();
        EXPECT_EQ(*camera.acted, action ? 1 : 0);
    }
}

} // namespace
