#include <PermissionGrants/Claim.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>

namespace {

using PermissionGrants::PermissionGrant;
using JournalClaim = PermissionGrant::Claim<std::string>;
using Intent = JournalClaim::Intent;
using Verdict = JournalClaim::Verdict;
using Outcome = JournalClaim::Outcome;

class RecordingLogger final : public Platform::SystemLogger {
public:
    bool enabled(Platform::SystemLogType) const override { return true; }
    void write(Platform::SystemLogType type, std::string_view text) override {
        lines.emplace_back(type, std::string(text));
    }
    std::vector<std::pair<Platform::SystemLogType, std::string>> lines;
};

using Step = std::function<void(JournalClaim&)>;
Step evaluate(Intent intent, bool live) {
    return [=](JournalClaim& claim) { claim.evaluate(intent, live); };
}
Step observe(Outcome outcome) {
    return [=](JournalClaim& claim) { claim.observe(outcome); };
}

struct TransitionRow {
    const char* name;
    std::vector<Step> steps;
    std::string verdict;
    std::vector<std::string> journal;
};

TEST(Claim, TransitionsAndContradictionsAreJournalledExactly) {
    const std::string witnessed = "unproven \u2192 capable  [observe(witnessed)]";
    const TransitionRow rows[] = {
        {"live on", {evaluate(Intent::on(), true)}, "capable", {witnessed}},
        {"live on twice", {evaluate(Intent::on(), true), evaluate(Intent::on(), true)}, "capable", {witnessed}},
        {"on, not seen working", {evaluate(Intent::on(), false)}, "unproven", {}},
        {"off", {evaluate(Intent::off("policy"), false)}, "impossible(policy)",
         {"unproven \u2192 impossible(policy)  [evaluate(off(policy))]"}},
        {"off while live",
         {evaluate(Intent::off("policy"), true)},
         "impossible(policy)",
         {witnessed, "capable \u2192 impossible(policy)  [evaluate(off(policy))]"}},
        {"unreadable", {evaluate(Intent::unreadable(), false)}, "unknown", {"unproven \u2192 unknown  [evaluate(unreadable)]"}},
        {"unreadable but live", {evaluate(Intent::unreadable(), true)}, "capable", {witnessed}},
        {"failure while capable, then on",
         {evaluate(Intent::on(), true), observe(Outcome::failed("boom")), evaluate(Intent::on(), false)},
         "impossible(sandbox)",
         {witnessed, "CONTRADICTION: failed while predicted capable: boom",
          "capable \u2192 impossible(sandbox)  [observe(failed)]"}},
        {"failure first, unreadable, then witnessed",
         {observe(Outcome::failed("x")), evaluate(Intent::unreadable(), false), observe(Outcome::witnessed())},
         "capable",
         {"unproven \u2192 impossible(sandbox)  [observe(failed)]",
          "CONTRADICTION: witnessed while predicted impossible(sandbox)",
          "impossible(sandbox) \u2192 capable  [observe(witnessed)]"}},
        {"success against off",
         {evaluate(Intent::off("policy"), false), observe(Outcome::succeeded())},
         "capable",
         {"unproven \u2192 impossible(policy)  [evaluate(off(policy))]",
          "CONTRADICTION: succeeded while predicted impossible(policy)",
          "impossible(policy) \u2192 capable  [observe(succeeded)]"}},
        {"success clears the failure",
         {observe(Outcome::failed("x")), observe(Outcome::succeeded()), evaluate(Intent::on(), false)},
         "capable",
         {"unproven \u2192 impossible(sandbox)  [observe(failed)]",
          "CONTRADICTION: succeeded while predicted impossible(sandbox)",
          "impossible(sandbox) \u2192 capable  [observe(succeeded)]"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto logger = std::make_shared<RecordingLogger>();
        TestSupport::VirtualTime time;
        JournalClaim claim("sandbox", logger, time);
        for (const auto& step : row.steps) step(claim);
        EXPECT_EQ(JournalClaim::print(claim.verdict()), row.verdict);
        std::vector<std::string> journal, logged;
        for (const auto& entry : claim.journal()) {
            journal.push_back(entry.line);
            EXPECT_EQ(entry.at, time.now());
        }
        for (const auto& [type, line] : logger->lines) {
            EXPECT_EQ(type, Platform::SystemLogType::standard);
            logged.push_back(line);
        }
        EXPECT_EQ(journal, row.journal);
        EXPECT_EQ(logged, row.journal);
    }
}

TEST(Claim, PrintedForms) {
    EXPECT_EQ(JournalClaim::print(Intent::off("r")), "off(r)");
    EXPECT_EQ(JournalClaim::print(Intent::on()), "on");
    EXPECT_EQ(JournalClaim::print(Intent::unreadable()), "unreadable");
    EXPECT_EQ(JournalClaim::print(Verdict::impossible("r")), "impossible(r)");
    EXPECT_EQ(JournalClaim::print(Verdict::capable()), "capable");
    EXPECT_EQ(JournalClaim::print(Verdict::unproven()), "unproven");
    EXPECT_EQ(JournalClaim::print(Verdict::unknown()), "unknown");
    EXPECT_EQ(JournalClaim::print(Outcome::failed("m")), "failed(m)");
    EXPECT_EQ(JournalClaim::print(Outcome::succeeded()), "succeeded");
    EXPECT_EQ(JournalClaim::print(Outcome::witnessed()), "witnessed");
    EXPECT_EQ(Intent::off("a"), Intent::off("a"));
    EXPECT_NE(Intent::off("a"), Intent::off("b"));
    EXPECT_NE(Verdict::impossible("a"), Verdict::capable());
}

TEST(Claim, TheJournalKeepsTheLast64Lines) {
    auto logger = std::make_shared<RecordingLogger>();
    JournalClaim claim("sandbox", logger);
    // The first observation records one line, each later one two.
    for (int i = 1; i <= 33; ++i) claim.observe(i % 2 == 1 ? Outcome::failed("f" + std::to_string(i)) : Outcome::succeeded());
    ASSERT_EQ(logger->lines.size(), 65u);
    ASSERT_EQ(claim.journal().size(), 64u);
    for (size_t i = 0; i < 64; ++i) EXPECT_EQ(claim.journal()[i].line, logger->lines[i + 1].second) << i;
}

TEST(Claim, VerdictObserversHearOnlyRealChanges) {
    JournalClaim claim("sandbox", nullptr);
    int heard = 0;
    auto track = [&] {
        PermissionGrants::withObservationTracking([&] { (void)claim.verdict(); }, [&] { ++heard; });
    };
    track();
    claim.evaluate(Intent::on(), false); // stays unproven
    EXPECT_EQ(heard, 0);
    claim.evaluate(Intent::on(), true);
    EXPECT_EQ(heard, 1);
    claim.evaluate(Intent::on(), true); // tracking fired once and is spent
    track();
    claim.observe(Outcome::failed("x"));
    EXPECT_EQ(heard, 2);
}

} // namespace
