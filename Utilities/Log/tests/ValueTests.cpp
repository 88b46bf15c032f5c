#include <Log/Event.hpp>
#include <Log/Value.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <deque>
#include <list>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace Shop {

struct Item {
    std::string name;
    int count = 0;
    std::optional<double> price;
};

void to_json(nlohmann::json& tree, const Item& item) {
    tree = {{"name", item.name}, {"count", item.count}, {"price", item.price ? nlohmann::json(*item.price) : nullptr}};
}

// A record whose serialiser fails falls back to what it prints.
struct Broken {};

void to_json(nlohmann::json&, const Broken&) { throw std::runtime_error("cannot serialise"); }
std::ostream& operator<<(std::ostream& out, const Broken&) { return out << "broken record"; }

struct Point {
    int x = 0, y = 0;
};

std::ostream& operator<<(std::ostream& out, const Point& point) {
    return out << "(" << point.x << ", " << point.y << ")";
}

// Two different keys that print alike.
struct Tag {
    int id;
    bool operator<(const Tag& other) const { return id < other.id; }
};

std::ostream& operator<<(std::ostream& out, const Tag&) { return out << "tag"; }

enum class Colour { red = 1, green = 2 };
enum Plain { first = 7 };

struct MoveError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace Shop

namespace {

using Log::Value;
using namespace std::chrono_literals;

std::string json(const Value& value) { return value.json(); }

TEST(ValueJSON, AbsentValuesAndOptionalsAtAnyDepth) {
    EXPECT_EQ(json(Value()), "null");
    EXPECT_EQ(json(std::nullopt), "null");
    EXPECT_EQ(json(nullptr), "null");
    EXPECT_EQ(json(std::optional<int>()), "null");
    EXPECT_EQ(json(std::optional<int>(5)), "5");
    EXPECT_EQ(json(std::optional<std::optional<std::string>>(std::optional<std::string>("x"))), "\"x\"");
    EXPECT_EQ(json(std::optional<std::optional<std::string>>(std::optional<std::string>())), "null");
    EXPECT_TRUE(Value(std::optional<int>()).isNull());
}

TEST(ValueJSON, TextsOfEveryKind) {
    std::string owned = "a \"b\"";
    EXPECT_EQ(json(owned), R"("a \"b\"")");
    EXPECT_EQ(json(std::string_view("view")), "\"view\"");
    EXPECT_EQ(json("literal"), "\"literal\"");
    const char* pointer = "pointer";
    EXPECT_EQ(json(pointer), "\"pointer\"");
    EXPECT_EQ(json(static_cast<const char*>(nullptr)), "null");
    EXPECT_EQ(json('x'), "\"x\"");
    EXPECT_EQ(json(std::filesystem::path("/tmp/a b")), "\"/tmp/a b\"");
    EXPECT_EQ(json(std::string("moved")), "\"moved\"");
}

TEST(ValueJSON, BooleansAndIntegers) {
    EXPECT_EQ(json(true), "true");
    EXPECT_EQ(json(false), "false");
    EXPECT_EQ(json(42), "42");
    EXPECT_EQ(json(-42L), "-42");
    EXPECT_EQ(json(std::uint8_t{200}), "200");
    EXPECT_EQ(json(std::int8_t{-3}), "-3");
    EXPECT_EQ(json(9007199254740991LL), "9007199254740991");
    EXPECT_EQ(json(9007199254740992LL), "\"9007199254740992\"");
    EXPECT_EQ(json(std::numeric_limits<std::int64_t>::min()), "\"-9223372036854775808\"");
    EXPECT_EQ(json(std::numeric_limits<std::uint64_t>::max()), "\"18446744073709551615\"");
    EXPECT_EQ(json(std::numeric_limits<std::uint32_t>::max()), "4294967295");
}

TEST(ValueJSON, FloatsKeepTheirShortDigits) {
    EXPECT_EQ(json(0.1f), "0.1");
    EXPECT_EQ(json(3.4028235e38f), "3.4028235e+38");
    EXPECT_EQ(json(1e-7f), "1e-7");
    EXPECT_EQ(json(0.1), "0.1");
    EXPECT_EQ(json(12.5L), "12.5");
    EXPECT_EQ(json(std::numeric_limits<double>::quiet_NaN()), "\"NaN\"");
    EXPECT_EQ(json(-std::numeric_limits<float>::infinity()), "\"-Infinity\"");
}

TEST(ValueJSON, DatesAndDurations) {
    EXPECT_EQ(json(Log::Date(1999900us)), "\"1970-01-01T00:00:01.999Z\"");
    EXPECT_EQ(json(std::chrono::sys_seconds(86400s)), "\"1970-01-02T00:00:00.000Z\"");
    EXPECT_EQ(json(1500us), "1.5");
    EXPECT_EQ(json(2s), "2000");
    EXPECT_EQ(json(3min), "180000");
    EXPECT_EQ(json(std::chrono::duration<double>(0.25)), "250");
    EXPECT_EQ(json(1ns), "0.000001");
    EXPECT_EQ(json(-1500ms), "-1500");
    // Whole seconds and the rest apart: no digits lost on a long duration.
    EXPECT_EQ(json(std::chrono::nanoseconds(86400LL * 365 * 1000000000 + 1000)), "31536000000.001");
}

TEST(ValueJSON, BytesAreBase64AndDecimalsText) {
    std::vector<std::byte> bytes{std::byte{'f'}, std::byte{'o'}, std::byte{'o'}, std::byte{0xff}};
    EXPECT_EQ(json(bytes), "\"Zm9v/w==\"");
    EXPECT_EQ(json(std::array<std::byte, 0>{}), "\"\"");
    // Bytes as numbers are a list, not data.
    EXPECT_EQ(json(std::vector<std::uint8_t>{1, 2}), "[1,2]");
    EXPECT_EQ(json(Log::Decimal{"12345678901234567890.000001"}), "\"12345678901234567890.000001\"");
}

TEST(ValueJSON, ExceptionsAreErrorObjects) {
    EXPECT_EQ(json(std::runtime_error("disk full")), R"({"type":"std::runtime_error","message":"disk full"})");
    EXPECT_EQ(json(Shop::MoveError("cannot move")), R"({"type":"Shop::MoveError","message":"cannot move"})");
    const std::exception& base = Shop::MoveError("through a base reference");
    EXPECT_EQ(json(base), R"({"type":"Shop::MoveError","message":"through a base reference"})");
}

TEST(ValueJSON, NestedExceptionsCarryTheirCause) {
    std::exception_ptr caught;
    try {
        try {
            throw std::system_error(std::make_error_code(std::errc::permission_denied), "open");
        } catch (...) {
            std::throw_with_nested(Shop::MoveError("cannot move the app"));
        }
    } catch (...) {
        caught = std::current_exception();
    }
    EXPECT_EQ(json(caught), R"({"type":"Shop::MoveError","message":"cannot move the app","cause":)"
                            R"({"type":"std::system_error","message":"open: Permission denied"}})");
    EXPECT_EQ(Log::errorMessage(caught), "cannot move the app");
}

TEST(ValueJSON, ErrorCodesAndOtherThrownThings) {
    EXPECT_EQ(json(std::make_error_code(std::errc::no_such_file_or_directory)),
              R"({"type":"std::error_code","message":"No such file or directory"})");
    EXPECT_EQ(json(std::errc::timed_out), R"({"type":"std::error_code","message":"Connection timed out"})");
    EXPECT_EQ(json(std::make_exception_ptr(42)), R"({"type":"int","message":"unknown error"})");
    EXPECT_EQ(json(std::make_exception_ptr(std::string("thrown text"))),
              R"({"type":"std::string","message":"thrown text"})");
    EXPECT_EQ(json(std::exception_ptr()), "null");
    EXPECT_EQ(Log::errorMessage(std::exception_ptr()), "no exception");
    EXPECT_EQ(Log::errorMessage(std::make_error_code(std::errc::permission_denied)), "Permission denied");
}

TEST(ValueJSON, MapsAreObjectsSortedByKeyBytes) {
    std::unordered_map<std::string, int> counts{{"b", 1}, {"a", 2}, {"B", 3}, {"\u00e9", 4}, {"z", 5}};
    EXPECT_EQ(json(counts), R"({"B":3,"a":2,"b":1,"z":5,"é":4})");
    std::map<std::string_view, std::vector<int>> lists{{"x", {1}}, {"w", {}}};
    EXPECT_EQ(json(lists), R"({"w":[],"x":[1]})");
    EXPECT_EQ(json(std::map<std::string, int>{}), "{}");
}

TEST(ValueJSON, OtherKeysArePrintedAndDeduplicated) {
    EXPECT_EQ(json(std::map<int, std::string>{{9, "nine"}, {10, "ten"}}), R"({"10":"ten","9":"nine"})");
    // Both keys print "tag": only the first in the map's order stays.
    EXPECT_EQ(json(std::map<Shop::Tag, int>{{{2}, 20}, {{1}, 10}}), R"({"tag":10})");
}

TEST(ValueJSON, ListsKeepTheirOrderAndSetsAreSorted) {
    EXPECT_EQ(json(std::vector<int>{3, 1, 2}), "[3,1,2]");
    EXPECT_EQ(json(std::list<std::string>{"b", "a"}), R"(["b","a"])");
    EXPECT_EQ(json(std::deque<bool>{true}), "[true]");
    EXPECT_EQ(json(std::vector<bool>{true, false}), "[true,false]");
    int raw[] = {4, 5};
    EXPECT_EQ(json(raw), "[4,5]");
    EXPECT_EQ(json(std::vector<std::vector<int>>{{1}, {}}), "[[1],[]]");
    EXPECT_EQ(json(std::set<int>{3, 1, 2}), "[1,2,3]");
    EXPECT_EQ(json(std::unordered_set<int>{3, 1, 2, 10}), "[1,10,2,3]");
    EXPECT_EQ(json(std::unordered_set<std::string>{"b", "a", "B"}), R"(["B","a","b"])");
    EXPECT_EQ(json(std::vector<Value>{1, "two", std::nullopt}), R"([1,"two",null])");
}

TEST(ValueJSON, RecordsGoThroughTheirSerialiserWithKeysSorted) {
    Shop::Item item{"lamp", 2, 9.5};
    EXPECT_EQ(json(item), R"({"count":2,"name":"lamp","price":9.5})");
    EXPECT_EQ(json(std::vector<Shop::Item>{{"a", 1, std::nullopt}}), R"([{"count":1,"name":"a","price":null}])");
    EXPECT_EQ(json(Shop::Broken{}), "\"broken record\"");
}

TEST(ValueJSON, ParsedTreesAreWalkedWithKeysSorted) {
    auto tree = nlohmann::json::parse(R"({"z":[1,-2,18446744073709551615,0.5,true,null],"a":{"y":"s","b":{}}})");
    EXPECT_EQ(json(tree), R"({"a":{"b":{},"y":"s"},"z":[1,-2,"18446744073709551615",0.5,true,null]})");
    nlohmann::ordered_json ordered;
    ordered["b"] = 1;
    ordered["a"] = 2;
    EXPECT_EQ(json(ordered), R"({"a":2,"b":1})");
    EXPECT_EQ(json(nlohmann::json(9007199254740992LL)), "\"9007199254740992\"");
}

TEST(ValueJSON, AnythingPrintableIsItsDescription) {
    EXPECT_EQ(json(Shop::Point{1, 2}), "\"(1, 2)\"");
    EXPECT_EQ(json(Shop::Colour::green), "\"2\"");
    EXPECT_EQ(json(Shop::first), "\"7\"");
}

TEST(ValueHuman, TextsAndErrorsReadAsWordsEverythingElseAsJSON) {
    EXPECT_EQ(Value("/tmp/a").human(), "/tmp/a");
    EXPECT_EQ(Value("two words").human(), "\"two words\"");
    EXPECT_EQ(Value("a\tb").human(), R"("a\tb")");
    EXPECT_EQ(Value(std::optional<std::string>("x")).human(), "x");
    EXPECT_EQ(Value(std::runtime_error("disk full")).human(), "\"disk full\"");
    EXPECT_EQ(Value(std::runtime_error("full")).human(), "full");
    EXPECT_EQ(Value(512).human(), "512");
    EXPECT_EQ(Value(std::nullopt).human(), "null");
    EXPECT_EQ(Value(std::vector<int>{1, 2}).human(), "[1,2]");
    EXPECT_EQ(Value(Log::Date(0s)).human(), "\"1970-01-01T00:00:00.000Z\"");
}

// Text reached through an optional value or a parsed tree is still text.
TEST(ValueHuman, TextKeepsItsKindWhereverItComesFrom) {
    EXPECT_EQ(Value(std::optional<Value>(Value("plain"))).human(), "plain");
    EXPECT_EQ(Value(std::optional<Value>(Value("two words"))).human(), "\"two words\"");
    EXPECT_TRUE(Value(std::optional<Value>()).isNull());
    auto tree = nlohmann::json::parse(R"({"name":"lamp","label":"a b","count":2,"tags":["x"]})");
    EXPECT_EQ(Value(tree["name"]).human(), "lamp");
    EXPECT_EQ(Value(tree["name"]).json(), "\"lamp\"");
    EXPECT_EQ(Value(tree["label"]).human(), "\"a b\"");
    EXPECT_EQ(Value(tree["count"]).human(), "2");
    EXPECT_EQ(Value(tree["tags"]).human(), R"(["x"])");
}

TEST(SortedPairs, OrdersByBytesAndPointsIntoTheMap) {
    std::unordered_map<std::string, int> map{{"b", 1}, {"a", 2}, {"B", 3}};
    auto pairs = Log::sortedPairs(map);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].first, "B");
    EXPECT_EQ(pairs[1].first, "a");
    EXPECT_EQ(pairs[2].first, "b");
    EXPECT_EQ(pairs[1].second, &map.at("a"));
}

TEST(EncodeFields, SortsByKeyBytesAndPreparesBothForms) {
    auto fields = Log::encodeFields({{"b", 1}, {"a", 2}, {"B", 3}, {"path", "/tmp/a"}, {"name", "two words"}});
    std::vector<Log::Field> expected{{"B", "3", "3"},
                                     {"a", "2", "2"},
                                     {"b", "1", "1"},
                                     {"name", "\"two words\"", "\"two words\""},
                                     {"path", "\"/tmp/a\"", "/tmp/a"}};
    EXPECT_EQ(fields, expected);
    EXPECT_EQ(Log::encodeFields({}), std::vector<Log::Field>{});
}

TEST(EncodeFields, ValuesOutliveWhatTheyWereMadeFrom) {
    Log::Fields fields;
    {
        std::string temporary = "gone soon";
        std::vector<int> numbers{1, 2};
        fields = {{"text", temporary}, {"list", numbers}, {"err", std::runtime_error("boom")}};
    }
    auto encoded = Log::encodeFields(fields);
    ASSERT_EQ(encoded.size(), 3u);
    EXPECT_EQ(encoded[0].json, R"({"type":"std::runtime_error","message":"boom"})");
    EXPECT_EQ(encoded[0].human, "boom");
    EXPECT_EQ(encoded[1].json, "[1,2]");
    EXPECT_EQ(encoded[2].human, "\"gone soon\"");
}

} // namespace
