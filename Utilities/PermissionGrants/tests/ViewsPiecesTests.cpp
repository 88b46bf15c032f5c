#include "ViewsFakes.hpp"

#include <PermissionGrants/Views/Chip.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace ViewsTests;
using PermissionGrants::GrantAction;
using PermissionGrants::GrantMark;
using PermissionGrants::Hue;
using PermissionGrants::Trailing;
using Grade = Standing::Grade;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

TEST(LetterCase, LowerLowersEveryScriptAndTitleKeepsTheText) {
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"Continue", "continue"},
        {"Open Settings\u2026", "open settings\u2026"},
        {"\u00D6FFNEN \u0391", "\u00F6ffnen \u03B1"},
        {"", ""},
    };
    for (auto [text, lower] : rows) {
        EXPECT_EQ(LetterCase(LetterCase::lower).apply(text), lower);
        EXPECT_EQ(LetterCase(LetterCase::title).apply(text), text);
        EXPECT_EQ(LetterCase().apply(text), text);
    }
}

TEST(ViewContext, ASurfaceThatAppearsWatchesSettingsWithItsReason) {
    Watch watch;
    watch.context().surfaceAppeared();
    watch.context(LetterCase::lower).surfaceAppeared();
    EXPECT_EQ(*watch.reasons, (std::vector<std::string>{"a surface appeared", "a surface appeared"}));
}

// The detail line and the trailing element of each standing; the letter
// case reaches the action's label and nothing else.
TEST(GrantWords, DetailLineAndTrailingPerStanding) {
    struct Row {
        Standing standing;
        std::string detail;
        Trailing title;
        Trailing lower;
    };
    const Row rows[] = {
        {askable(), "Asks once.", GrantAction{Hue::yellow, false, "Allow\u2026"},
         GrantAction{Hue::yellow, false, "allow\u2026"}},
        {askableWithoutNote(), "It Needs It.", GrantAction{Hue::yellow, false, "Allow\u2026"},
         GrantAction{Hue::yellow, false, "allow\u2026"}},
        {broken(), "Turned off in Settings.", GrantAction{Hue::orange, false, "Open Settings\u2026"},
         GrantAction{Hue::orange, false, "open settings\u2026"}},
        {unknown(), "Cannot tell.", GrantMark{Grade::unknown}, GrantMark{Grade::unknown}},
        {good(), "It Needs It.", GrantMark{Grade::good}, GrantMark{Grade::good}},
    };
    Switchable widget("Widget", true, good(), "It Needs It.");
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.standing));
        EXPECT_EQ(PermissionGrants::detailLine(widget.grant, row.standing), row.detail);
        EXPECT_EQ(PermissionGrants::trailing(row.standing, LetterCase::title), row.title);
        EXPECT_EQ(PermissionGrants::trailing(row.standing, LetterCase::lower), row.lower);
    }
}

TEST(Chip, DrawsAnActionOnlyWhileTheGrantNeedsThePerson) {
    struct Row {
        Standing standing;
        std::optional<std::string> label;
        bool fill;
        LetterCase letterCase;
        std::optional<GrantAction> action;
    };
    const Row rows[] = {
        {askable(), std::nullopt, false, LetterCase::title, GrantAction{Hue::yellow, false, "Camera, Allow\u2026"}},
        {askable(), "Use the Camera", true, LetterCase::lower,
         GrantAction{Hue::yellow, true, "Use the Camera, allow\u2026"}},
        {broken(), std::nullopt, true, LetterCase::title, GrantAction{Hue::orange, true, "Camera, Open Settings\u2026"}},
        {broken(), "", false, LetterCase::lower, GrantAction{Hue::orange, false, ", open settings\u2026"}},
        {good(), "Use the Camera", true, LetterCase::title, std::nullopt},
        {unknown(), std::nullopt, false, LetterCase::title, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.standing));
        Switchable camera("Camera", false, row.standing);
        PermissionGrant::Chip chip(camera.grant, row.label, row.fill, Watch().context(row.letterCase));
        EXPECT_EQ(chip.action(), row.action);
        EXPECT_EQ(chip.grant().title, "Camera");
        chip.press();
        runMainLoop();
        EXPECT_EQ(*camera.acted, row.action ? 1 : 0);
    }
}

TEST(Chip, ReadsTheStandingAfreshAtEachDraw) {
    Switchable camera("Camera", true, good());
    PermissionGrant::Chip chip(camera.grant);
    EXPECT_EQ(chip.action(), std::nullopt);
    camera.set(broken());
    EXPECT_EQ(chip.action(), (GrantAction{Hue::orange, false, "Camera, Open Settings\u2026"}));
}

} // namespace
