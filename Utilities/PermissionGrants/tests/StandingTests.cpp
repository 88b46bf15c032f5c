#include <PermissionGrants/Notifications.hpp>

#include <gtest/gtest.h>

namespace {

using PermissionGrants::PermissionGrant;
using Standing = PermissionGrant::Standing;
using Grade = Standing::Grade;
using Reach = PermissionGrant::Notifications::Reach;

struct WordsRow {
    Standing standing;
    Grade grade;
    const char* gradeName;
    std::string_view actionTitle;
    std::optional<std::string_view> note;
    bool needsUser;
};

TEST(Standing, WordsGradesAndNeedForTheUser) {
    const WordsRow rows[] = {
        {Standing::askable("Allow\u2026"), Grade::askable, "askable", "Allow\u2026", std::nullopt, true},
        {Standing::askable("Allow\u2026", "why"), Grade::askable, "askable", "Allow\u2026", "why", true},
        {Standing::broken("Open Settings\u2026", "off"), Grade::broken, "broken", "Open Settings\u2026", "off", true},
        {Standing::unknown("no answer"), Grade::unknown, "unknown", "", "no answer", false},
        {Standing::good(), Grade::good, "good", "", std::nullopt, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.gradeName);
        EXPECT_EQ(row.standing.grade(), row.grade);
        EXPECT_EQ(PermissionGrants::gradeName(row.grade), row.gradeName);
        EXPECT_EQ(row.standing.actionTitle(), row.actionTitle);
        EXPECT_EQ(row.standing.note(), row.note);
        EXPECT_EQ(row.standing.needsUser(), row.needsUser);
    }
}

TEST(Standing, EqualWhenCaseAndWordsAreEqual) {
    EXPECT_EQ(Standing::askable("A"), Standing::askable("A"));
    EXPECT_EQ(Standing::askable("A", "n"), Standing::askable("A", "n"));
    EXPECT_NE(Standing::askable("A"), Standing::askable("A", ""));
    EXPECT_NE(Standing::askable("A", "n"), Standing::broken("A", "n"));
    EXPECT_NE(Standing::broken("A", "n"), Standing::broken("A", "m"));
    EXPECT_NE(Standing::broken("A", "n"), Standing::broken("B", "n"));
    EXPECT_EQ(Standing::unknown("n"), Standing::unknown("n"));
    EXPECT_NE(Standing::unknown(""), Standing::good());
    EXPECT_EQ(Standing::good(), Standing::good());
}

struct ReachRow {
    std::optional<Reach> reach;
    Standing expected;
};

TEST(NotificationsStanding, EveryReachAndItsAbsence) {
    const ReachRow rows[] = {
        {Reach::notAsked, Standing::askable("Allow\u2026")},
        {Reach::denied, Standing::broken("Open System Settings\u2026",
                                         "Notifications are off in System Settings. macOS never asks twice.")},
        {Reach::silenced,
         Standing::broken("Open System Settings\u2026",
                          "Allowed, but alerts are off: messages land in Notification Center without appearing.")},
        {Reach::allowed, Standing::good()},
        {std::nullopt, Standing::unknown("Notification settings did not answer.")},
    };
    for (const auto& row : rows) {
        auto standing = PermissionGrant::Notifications::standing(row.reach);
        EXPECT_EQ(standing, row.expected) << (row.reach ? PermissionGrant::Notifications::rawValue(*row.reach) : "absent");
    }
    // The ellipsis is one character, U+2026.
    EXPECT_EQ(PermissionGrant::Notifications::standing(Reach::denied).actionTitle(), "Open System Settings\xE2\x80\xA6");
}

} // namespace
