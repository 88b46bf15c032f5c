#include "UpdateCheck.hpp"

#include <gtest/gtest.h>

namespace {

using Platform::HTTPResponse;

// What a feed's answer means: the first line of a 200 answer, when it names
// a version; anything else is a failed check with its reason.
TEST(UpdateCheck, TheFeedsAnswerNamesTheVersionOrWhyNot) {
    struct Case {
        HTTPResponse response;
        std::optional<std::string> version;
        std::string why;
    };
    const Case cases[] = {
        {{200, "1.4.2\n", {}}, "1.4.2", ""},
        {{200, "  2.0.0-beta+7 \r\nnotes follow\n", {}}, "2.0.0-beta+7", ""},
        {{200, "10", {}}, "10", ""},
        {{200, "", {}}, std::nullopt, "the answer names no version"},
        {{200, "<html>moved</html>", {}}, std::nullopt, "the answer names no version"},
        {{200, "v1.2", {}}, std::nullopt, "the answer names no version"},
        {{200, "1.2 \x1b[2J", {}}, std::nullopt, "the answer names no version"},
        {{200, std::string(65, '1'), {}}, std::nullopt, "the answer names no version"},
        {{404, "1.4.2", {}}, std::nullopt, "HTTP status 404"},
        {{std::nullopt, "", "Couldn't connect to server"}, std::nullopt, "Couldn't connect to server"},
        {{std::nullopt, "", std::nullopt}, std::nullopt, "no answer"},
    };
    for (const auto& [response, version, why] : cases) {
        std::string reason;
        EXPECT_EQ(Lumrad::UpdateCheck::versionIn(response, reason), version) << response.body;
        EXPECT_EQ(reason, why) << response.body;
    }
    EXPECT_EQ(Lumrad::updateMessage("1.10", "1.9"), "Lumra 1.10 is available; this Mac runs 1.9.");
}

} // namespace
