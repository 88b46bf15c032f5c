// The grant view models, headless: custom grants read on this thread, fake
// login-item controls completed by hand, a context recording why settings
// are watched. Standings by letter: a/n askable with/without note, b broken,
// u unknown, g good.
#include <PermissionGrants/Views/Chip.hpp>
#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <PermissionGrants/Views/Sheet.hpp>
#include <PermissionGrants/Views/Steps.hpp>
#include <Platform/Dispatch.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <sstream>
#include <utility>

namespace {

using namespace PermissionGrants;
using Case = PermissionGrant::LetterCase;
using Steps = PermissionGrant::Steps;
using LaunchAtLogin = PermissionGrant::LaunchAtLogin;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

Standing standing(char letter) {
    switch (letter) {
    case 'a': return Standing::askable("Allow\u2026", "Asks once.");
    case 'n': return Standing::askable("Allow\u2026");
    case 'b': return Standing::broken("Open Settings\u2026", "Turned Off.");
    case 'u': return Standing::unknown("Cannot tell.");
    }
    return Standing::good();
}

struct Fake {
    std::shared_ptr<Standing> now;
    std::shared_ptr<int> acted = std::make_shared<int>(0);
    PermissionGrant grant;
    Fake(std::string title, bool required, char letter)
        : now(std::make_shared<Standing>(standing(letter))),
          grant(
              std::move(title), "Why It Matters.", "gear", required, [now = now] { return *now; },
              [acted = acted] { ++*acted; }) {}
    void set(char letter) const { *now = standing(letter); }
};

std::shared_ptr<std::vector<std::string>> reasons;
ViewContext context(Case letterCase = Case::title) {
    reasons = std::make_shared<std::vector<std::string>>();
    return {letterCase, [watched = reasons](std::string_view why) { watched->emplace_back(why); }};
}

std::string text(std::optional<Hue> hue) { return hue ? std::array{"yellow", "orange", "green"}[int(*hue)] : "none"; }
std::string text(const Trailing& trailing) {
    if (const auto* mark = std::get_if<GrantMark>(&trailing)) return "mark " + std::string(gradeName(mark->grade));
    const auto& action = std::get<GrantAction>(trailing);
    return text(action.hue) + (action.fill ? " fill " : " ") + action.label;
}
// "Continue*": enabled and the default; "Done-": disabled.
std::string text(const Steps::Button& button) {
    return button.label + (button.isDefault ? "*" : "") + (button.enabled ? "" : "-");
}
// How many acts the main loop ran (a grant's act() is posted there).
int acts(const Fake& fake) {
    Platform::mainLoop().async([] { Platform::mainLoop().stop(); });
    Platform::mainLoop().run();
    return std::exchange(*fake.acted, 0);
}

TEST(GrantWords, DetailLineAndTrailingPerStandingTheCaseOnTheActionOnly) {
    const std::tuple<char, const char*, const char*, const char*> rows[] = {
        {'a', "Asks once.", "yellow Allow\u2026", "yellow allow\u2026"},
        {'n', "Why It Matters.", "yellow Allow\u2026", "yellow allow\u2026"},
        {'b', "Turned Off.", "orange Open Settings\u2026", "orange open settings\u2026"},
        {'u', "Cannot tell.", "mark unknown", "mark unknown"},
        {'g', "Why It Matters.", "mark good", "mark good"}};
    for (auto [letter, detail, title, lower] : rows)
        EXPECT_EQ(detailLine(Fake("W", true, 'g').grant, standing(letter)) + "|" +
                      text(trailing(standing(letter), Case::title)) + "|" +
                      text(trailing(standing(letter), Case::lower)),
                  std::string(detail) + "|" + title + "|" + lower);
    EXPECT_EQ(Case(Case::lower).apply("\u00D6FFNEN \u0391"), "\u00F6ffnen \u03B1");
    context().surfaceAppeared();
    EXPECT_EQ(*reasons, std::vector<std::string>{"a surface appeared"});
}

// ^ appears, * becomes active; a lower-case letter: the standing changes and
// the row hears of it while visible; upper-case: it changes unreported.
TEST(Row, ShowsTheRememberedStandingAsTheEventsSay) {
    const std::tuple<const char*, char, size_t> rows[] = {
        {"aB", 'b', 0},  {"u^", 'u', 1},   {"a^b", 'a', 1}, {"a^b*", 'b', 1}, {"a^b^", 'b', 2},
        {"a^g", 'g', 1}, {"a^u", 'u', 1},  {"b^a", 'a', 1}, {"g^b", 'b', 1},  {"g^abb", 'a', 1},
        {"a^G", 'a', 1}, {"a^G*", 'g', 1}, {"ab", 'b', 0},  {"u*G", 'u', 0}};
    for (auto [events, shown, watched] : rows) {
        Fake widget("W", false, events[0]);
        PermissionGrant::Row row(widget.grant, PermissionGrant::Row::Style::card, context(Case::lower));
        for (const char* event = events + 1; *event; ++event) {
            if (*event == '^')
                row.appeared();
            else if (*event == '*')
                row.becameActive();
            else
                widget.set(static_cast<char>(std::tolower(*event)));
            if (std::islower(*event)) row.changed(standing(*event));
        }
        EXPECT_EQ(row.shown(), standing(shown)) << events;
        EXPECT_EQ(text(row.trailing()) + "|" + row.detailLine(),
                  text(trailing(standing(shown), Case::lower)) + "|" + detailLine(widget.grant, standing(shown)));
        EXPECT_EQ(*reasons, std::vector<std::string>(watched, "a surface appeared"));
        row.press();
        EXPECT_EQ(acts(widget), standing(shown).needsUser()) << events;
    }
}

// Grants as "T!x": title T, ! when required, standing x.
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
std::string text(const PermissionGrant::Section& section) {
    std::string text = section.title().value_or("-") + ":";
    for (const auto& row : section.rows()) text += " " + row.grant().title + "[" + ::text(row.trailing()) + "]";
    return text + (section.footer() ? " (" + *section.footer() + ")" : "");
}

TEST(Section, RequiredGrantsFirstInTheGivenOrder) {
    const std::pair<const char*, const char*> rows[] = {
        {"", "T: (F)"},
        {"Ag B!g Cu D!g", "T: B[mark good] D[mark good] A[mark good] C[mark unknown] (F)"},
        {"Zu Yu X!u", "T: X[mark unknown] Z[mark unknown] Y[mark unknown] (F)"}};
    for (auto [spec, expected] : rows) {
        PermissionGrant::Section section("T", grants(spec), "F", context());
        EXPECT_EQ(text(section), expected);
        section.appeared();
        EXPECT_EQ(reasons->size(), section.rows().size());
        std::string bare = expected; // untitled, without footer
        EXPECT_EQ(text(PermissionGrant::Section(grants(spec))), "-" + bare.substr(1, bare.size() - 5));
    }
}

// The letter case reaches section titles, button and action titles; grant
// titles and notes keep their capitals.
TEST(Sheet, SectionsAndButtonPerMixOfGrantsAndCase) {
    const std::tuple<const char*, Case::Value, const char*> rows[] = {
        {"Aa Mb Fu", Case::title,
         "Optional: A[yellow Allow\u2026] M[orange Open Settings\u2026] F[mark unknown] (N.)|Done"},
        {"S!g L!u", Case::title, "Required: S[mark good] L[mark unknown]|Done"},
        {"Ag S!a", Case::title, "Required: S[yellow Allow\u2026]|Optional: A[mark good] (N.)|Later"},
        {"S!b Aa", Case::lower, "required: S[orange open settings\u2026]|optional: A[yellow allow\u2026] (N.)|later"},
        {"S!g Ab", Case::lower, "required: S[mark good]|optional: A[orange open settings\u2026] (N.)|done"},
        {"", Case::title, "Done"}};
    for (auto [spec, letterCase, expected] : rows) {
        int done = 0;
        PermissionGrant::Sheet sheet(
            "Lumra", "Needs", grants(spec), "N.", [&] { ++done; }, context(letterCase));
        std::string shown;
        for (const auto& section : sheet.sections()) shown += text(section) + "|";
        EXPECT_EQ(shown + sheet.buttonLabel(), expected);
        sheet.pressButton();
        EXPECT_EQ(done, 1);
    }
    std::vector<Fake> fakes;
    PermissionGrant::Sheet sheet("Lumra", std::nullopt, grants("Ag S!a", &fakes), std::nullopt, {}, context());
    sheet.appeared();
    fakes[1].set('b');
    sheet.sections()[0].rows()[0].changed(standing('b'));
    EXPECT_EQ(text(sheet.sections()[0]) + "|" + sheet.buttonLabel(), "Required: S[yellow Allow\u2026]|Later");
    sheet.becameActive();
    fakes[1].set('g');
    // The button reads afresh; the row shows what it remembers.
    EXPECT_EQ(text(sheet.sections()[0]) + "|" + sheet.buttonLabel(), "Required: S[orange Open Settings\u2026]|Done");
    EXPECT_EQ(reasons->size(), 2u);
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
        PermissionGrant::Chip chip(camera.grant, label, fill, context(letterCase));
        EXPECT_EQ(chip.action() ? text(*chip.action()) : "", expected);
        chip.press();
        EXPECT_EQ(acts(camera), chip.action().has_value());
    }
}

TEST(Steps, PagesAndLastPage) {
    const std::tuple<size_t, bool, int> rows[] = {{0, false, 1}, {0, true, 1},  {1, false, 1},
                                                  {1, true, 2},  {2, false, 2}, {3, true, 4}};
    for (auto [count, welcome, pages] : rows) {
        Steps steps(std::vector(count, Fake("G", true, 'g').grant), welcome, {}, context());
        EXPECT_EQ(std::tuple(steps.pageCount(), steps.lastPage(), steps.page()), std::tuple(pages, pages - 1, 0));
        EXPECT_EQ(std::tuple(steps.pageAt(0) == nullptr, steps.pageAt(pages) == nullptr),
                  std::tuple(welcome || !count, true));
    }
}

// Per requirement and standing of a page's grant: tint, whether the page
// may be left, the button before the last page and on it, and its action.
TEST(Steps, TintMayLeaveAndButtonPerPage) {
    const std::tuple<bool, char, const char*, bool, const char*, const char*> rows[] = {
        {false, 'a', "yellow", true, "Skip", "skip"},       {false, 'b', "orange", true, "Skip", "skip"},
        {false, 'g', "green", true, "Continue*", "done*"},  {false, 'u', "none", true, "Continue*", "done*"},
        {true, 'a', "yellow", false, "Continue-", "done-"}, {true, 'b', "orange", false, "Continue-", "done-"},
        {true, 'g', "green", true, "Continue*", "done*"},   {true, 'u', "none", true, "Continue*", "done*"}};
    for (auto [required, letter, tint, mayLeave, before, last] : rows) {
        Fake page("P", required, letter);
        Steps two({page.grant, page.grant}, false, {}, context());
        EXPECT_EQ(text(two.button()), before) << letter << required;
        two.pressButton();
        EXPECT_EQ(two.page(), std::string(before).ends_with("-") ? 0 : 1);
        Steps welcomed({page.grant}, true, {}, context(Case::lower));
        EXPECT_EQ(
            std::tuple(text(welcomed.tint(0)), text(welcomed.tint(1)), welcomed.mayLeave(0), welcomed.mayLeave(1)),
            std::tuple("none", tint, true, mayLeave));
        welcomed.pressButton();
        EXPECT_EQ(text(welcomed.button()), last) << letter << required;
        welcomed.pageAt(1)->press();
        EXPECT_EQ(acts(page), standing(letter).needsUser());
    }
}

TEST(Steps, WelcomeThenPagesThatAppearAndOneDonePerAppearance) {
    std::vector<Fake> fakes;
    int done = 0;
    Steps steps(
        grants("F!g Sa", &fakes), true, [&] { ++done; }, context());
    steps.appeared();
    EXPECT_EQ(std::tuple(text(steps.button()), steps.here(), reasons->size()),
              std::tuple("Continue*", Steps::Here{0, false}, 0u)); // the welcome page has no grant to watch
    steps.pressButton();
    EXPECT_EQ(std::tuple(text(steps.button()), steps.here(), reasons->size()),
              std::tuple("Continue*", Steps::Here{1, true}, 1u));
    steps.pressButton();
    EXPECT_EQ(std::tuple(text(steps.button()), steps.pageAt(2)->detailLine(), text(steps.pageAt(2)->trailing())),
              std::tuple("Skip", "Asks once.", "yellow Allow\u2026"));
    steps.pressButton();
    steps.pressButton();
    EXPECT_EQ(done, 1);
    steps.appeared();
    steps.pressButton();
    EXPECT_EQ(std::tuple(done, reasons->size()), std::tuple(2, 3u));
    for (bool welcome : {false, true}) { // nothing to ask: one page, "Done"
        Steps empty(
            {}, welcome, [&] { ++done; }, context());
        EXPECT_EQ(text(empty.button()), "Done*");
        empty.pressButton();
        empty.pressButton();
    }
    EXPECT_EQ(done, 4);
}

// Only the page shown turning good moves on; the last page turning good
// finishes, and a press on its way does not finish again.
TEST(Steps, AdvancesWhenThePageShownTurnsGood) {
    std::vector<Fake> fakes;
    int done = 0;
    Steps steps(
        grants("S!a L!g Aa", &fakes), false, [&] { ++done; }, context());
    steps.appeared();
    const std::tuple<size_t, char, int> rows[] = {{0, 'a', 0}, {0, 'b', 0}, {0, 'g', 1}, {2, 'u', 1}, {2, 'g', 1},
                                                  {1, 'b', 1}, {1, 'g', 2}, {2, 'g', 2}, {2, 'a', 2}};
    for (auto [which, letter, page] : rows) {
        fakes[which].set(letter);
        steps.standingsChanged();
        EXPECT_EQ(std::tuple(steps.page(), done), std::tuple(page, 0)) << which << letter;
    }
    fakes[2].set('g');
    steps.standingsChanged();
    steps.pressButton();
    EXPECT_EQ(done, 1);
}

// The login item as fake controls see it; asks wait for the test.
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
    void complete(char letter, bool nowAwaiting) {
        standing = ::standing(letter), awaiting = nowAwaiting;
        auto done = std::move(asks.front());
        asks.erase(asks.begin());
        done(letter == 'g');
    }
};

TEST(LaunchAtLogin, OnWhileGoodOrAwaitingWithTheNoteAsApprovalLink) {
    const std::tuple<char, bool, bool, const char*> rows[] = {{'g', false, true, ""},  {'b', true, true, "Turned Off."},
                                                              {'n', true, true, ""},   {'n', false, false, ""},
                                                              {'b', false, false, ""}, {'u', false, false, ""}};
    for (auto [letter, awaiting, on, note] : rows) {
        FakeItem item;
        item.standing = standing(letter), item.awaiting = awaiting;
        LaunchAtLogin toggle("Open at login", item.controls(), context());
        toggle.appeared();
        toggle.pressApprovalLink();
        EXPECT_EQ(std::tuple(toggle.isOn(), toggle.enabled(), toggle.approvalNote().value_or(""), item.acted,
                             reasons->size()),
                  std::tuple(on, true, note, awaiting ? 1 : 0, 1u));
    }
}

// Disabled while its ask is in flight, so switching off cannot pull the
// item from under the ask; then it shows what the ask left.
TEST(LaunchAtLogin, DisabledWhileItsAskIsInFlight) {
    FakeItem item;
    int changes = 0;
    LaunchAtLogin toggle("Open at login", item.controls(), context());
    toggle.refresh();
    toggle.toggle(true, [&] { ++changes; });
    toggle.toggle(false);
    toggle.toggle(true);
    EXPECT_EQ(std::tuple(item.asks.size(), item.unregistered, toggle.enabled(), toggle.isOn()),
              std::tuple(1u, 0, false, false));
    item.complete('b', true);
    EXPECT_EQ(std::tuple(changes, toggle.enabled(), toggle.isOn(), toggle.approvalNote().value_or("")),
              std::tuple(1, true, true, "Turned Off."));
    toggle.toggle(true);
    toggle.toggle(false);
    toggle.toggle(false);
    EXPECT_EQ(std::tuple(item.asks.size(), item.unregistered, toggle.isOn()), std::tuple(0u, 1, false));
    { // a completion after the view is gone touches nothing
        LaunchAtLogin gone("Open at login", item.controls(), context());
        gone.toggle(true, [&] { ++changes; });
        LaunchAtLogin moved = std::move(gone);
    }
    item.complete('g', false);
    EXPECT_EQ(changes, 1);
    auto grant = LaunchAtLogin::grant();
    const auto& service = std::get<PermissionGrant::Kind::BackgroundService>(grant.kind.value);
    EXPECT_EQ(std::tuple(grant.title, grant.why, grant.symbol, grant.required, service.job.kind(), service.installFor),
              std::tuple("open at login", "", "gearshape.2", false, AppInstallation::Job::Kind::loginItem(),
                         std::vector{AppInstallation::Scope::everyone}));
}

} // namespace
