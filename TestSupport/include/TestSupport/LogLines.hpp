#pragma once

#include <Log/Settings.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <string>

namespace TestSupport {

// The log's lines on standard error while the object lives, as JSON.
class LogLines {
public:
    LogLines() : redirect_(folder_ / "err") { Log::setLogFormat("json"); }
    std::string text() {
        redirect_.restore();
        return TestSupport::contents(folder_ / "err");
    }

private:
    TestSupport::TempDir folder_;
    TestSupport::RedirectedStandardError redirect_;
};

// A JSON log line with this message and exactly these fields, given as
// `"msg":"…" {fields}` in any order.
inline testing::Matcher<std::string> logged(const std::string& line) {
    size_t space = line.find(" {");
    // The log writes the fields in name order, as a parsed object dumps them.
    std::string fields = nlohmann::json::parse(line.substr(space + 1)).dump();
    return testing::ContainsRegex(line.substr(0, space) + "[^\n]*\"fields\":" +
                                  std::regex_replace(fields, std::regex(R"([{}\[\]().+*?^$|\\])"), R"(\$&)"));
}

} // namespace TestSupport
