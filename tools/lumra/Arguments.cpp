#include "Arguments.hpp"

#include "TimeText.hpp"
#include "Usage.hpp"

#include <LumraKit/Claim.hpp>
#include <LumraKit/Config.hpp>

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

namespace Client {

namespace {

using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::ModeSet;
using LumraKit::Term;

// Thrown from deep inside one command's parsing, caught by parse(): the
// message is complete, the usage is the command's.
struct Failure {
    std::string message;
    std::string_view usage;
    std::string command;
};

// Thrown when --help or -h comes up as an option of a command: its usage is
// all that is printed, whatever else the line holds.
struct HelpAsked {};

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool isHelp(std::string_view word) { return word == "--help" || word == "-h"; }

// One command's words, taken from the front. Options are "--name value" or
// "--name=value"; "--" makes every later word an operand.
class Words {
public:
    Words(std::string_view command, std::string_view usage, std::vector<std::string> words)
        : command_(command), usage_(usage), words_(std::move(words)) {}

    std::string command() const { return std::string(command_); }
    bool atEnd() const { return next_ == words_.size(); }
    const std::string& peek() const { return words_[next_]; }
    std::string take() { return words_[next_++]; }
    std::vector<std::string> rest() {
        std::vector<std::string> words(words_.begin() + static_cast<std::ptrdiff_t>(next_), words_.end());
        next_ = words_.size();
        return words;
    }

    // An option word: the next one starts with "-", no "--" came before it,
    // and it is more than a lone "-" (which reads as an operand).
    bool atOption() const { return !atEnd() && !operandsOnly_ && peek().size() > 1 && peek().front() == '-'; }

    // Takes the option at the front and answers its name, keeping a value
    // written after "=" for value(). A "--" is consumed and answers empty;
    // a request for help ends the parsing.
    std::string option() {
        std::string word = take();
        if (word == "--") {
            operandsOnly_ = true;
            return "";
        }
        if (isHelp(word)) throw HelpAsked{};
        inlineValue_.reset();
        if (size_t equals = word.find('='); word.starts_with("--") && equals != std::string::npos) {
            inlineValue_ = word.substr(equals + 1);
            word.resize(equals);
        }
        return word;
    }

    // The value of option `name`: after "=", else the next word.
    std::string value(std::string_view name) {
        if (inlineValue_) return *std::exchange(inlineValue_, std::nullopt);
        if (atEnd()) fail(std::string(name) + " needs a value");
        return take();
    }

    // For an option without a value: "--forced=yes" is a mistake.
    void noValue(std::string_view name) {
        if (inlineValue_) fail(std::string(name) + " takes no value");
    }

    [[noreturn]] void fail(std::string_view problem) const {
        throw Failure{"lumra: " + std::string(problem), usage_, std::string(command_)};
    }
    [[noreturn]] void unknown(std::string_view option) const { fail("unknown option " + std::string(option)); }
    [[noreturn]] void unexpected() const { fail("unexpected argument " + inQuotes(peek())); }

private:
    std::string_view command_;
    std::string_view usage_;
    std::vector<std::string> words_;
    size_t next_ = 0;
    bool operandsOnly_ = false;
    std::optional<std::string> inlineValue_;
};

// A whole decimal number that fits `Integer`; absent for anything else.
template <typename Integer>
std::optional<Integer> integer(std::string_view text) {
    Integer value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

ModeSet modesNamed(Words& words, std::string_view list) {
    ModeSet modes;
    for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        std::string_view name = list.substr(at, comma - at);
        auto mode = LumraKit::modeNamed(name);
        if (!mode) words.fail("--modes: " + inQuotes(name) + " is not a mode (idle, lid or display)");
        modes.insert(*mode);
        at = comma + 1;
    }
    return modes;
}

Invocation hold(Words& words, const ParseContext& context) {
    std::optional<ModeSet> modes;
    std::optional<std::pair<std::string, Term>> term; // the option that set it, and the term
    std::optional<std::string> owner, onEnd;
    std::vector<std::string> command;
    bool forced = false, json = false;

    auto once = [&](bool alreadyGiven, const std::string& name) {
        if (alreadyGiven) words.fail(name + " is given twice");
    };
    auto setTerm = [&](const std::string& name, Term value) {
        if (term && term->first == name) words.fail(name + " is given twice");
        if (term) words.fail(term->first + " and " + name + " cannot be used together");
        term.emplace(name, value);
    };

    while (!words.atEnd()) {
        if (!words.atOption()) words.unexpected();
        std::string name = words.option();
        if (name.empty()) {
            command = words.rest();
            if (command.empty()) words.fail("-- needs a command to run");
            break;
        }
        if (name == "--modes") {
            modes = modes.value_or(ModeSet{}) | modesNamed(words, words.value(name));
        } else if (name == "--idle" || name == "--lid" || name == "--display") {
            words.noValue(name);
            modes = modes.value_or(ModeSet{}) | ModeSet{*LumraKit::modeNamed(std::string_view(name).substr(2))};
        } else if (name == "--for") {
            std::string text = words.value(name);
            auto duration = parseDuration(text);
            if (!duration) words.fail("--for: " + duration.error());
            setTerm(name, Term::until(context.now + duration.value()));
        } else if (name == "--until") {
            std::string text = words.value(name);
            auto moment = parseMoment(text, context.now);
            if (!moment) words.fail("--until: " + moment.error());
            setTerm(name, Term::until(moment.value()));
        } else if (name == "--while-pid") {
            std::string text = words.value(name);
            auto pid = integer<int32_t>(text);
            if (!pid || *pid <= 0) words.fail("--while-pid: " + inQuotes(text) + " is not a process ID");
            auto started = context.processStart(*pid);
            if (!started) words.fail("--while-pid: no process has ID " + std::to_string(*pid));
            setTerm(name, Term::whilePid(*pid, *started));
        } else if (name == "--forced") {
            words.noValue(name);
            forced = true;
        } else if (name == "--owner") {
            once(owner.has_value(), name);
            owner = words.value(name);
            if (LumraKit::cleanedOwner(*owner).empty()) words.fail("--owner needs a name");
        } else if (name == "--on-end") {
            once(onEnd.has_value(), name);
            onEnd = words.value(name);
        } else if (name == "--json") {
            words.noValue(name);
            json = true;
        } else {
            words.unknown(name);
        }
    }

    if (!command.empty()) {
        if (term) words.fail(term->first + " cannot be used with a command to run: the hold lasts while it runs");
        if (json) words.fail("--json cannot be used with a command to run");
    }
    Claim claim(owner.value_or(std::string(Claim::humanOwner)), forced, modes.value_or(Claim::defaultModes),
                term ? term->second : Term::indefinite(), context.now, false, onEnd.value_or(""));
    if (!command.empty()) return HoldWhileRunning{std::move(claim), std::move(command), !modes.has_value()};
    return Send{Command::engage(std::move(claim)), json, !modes.has_value()};
}

// end, allow-lid, deny-lid: at most one selector.
Invocation selecting(Words& words, Command (*make)(std::optional<std::string>)) {
    std::optional<std::string> selector;
    while (!words.atEnd()) {
        if (words.atOption()) {
            std::string name = words.option();
            if (name.empty()) continue;
            words.unknown(name);
        }
        if (selector) words.unexpected();
        selector = words.take();
    }
    // An empty selector matches every claim, just as none does.
    if (selector && selector->empty()) selector.reset();
    return Send{make(std::move(selector))};
}

// For a command with no options beyond --help and no operands.
void nothingMore(Words& words) {
    while (!words.atEnd()) {
        if (!words.atOption()) words.unexpected();
        std::string name = words.option();
        if (!name.empty()) words.unknown(name);
    }
}

Invocation bare(Words& words, Command command) {
    nothingMore(words);
    return Send{std::move(command)};
}

Invocation status(Words& words) {
    bool json = false;
    while (!words.atEnd()) {
        if (!words.atOption()) words.unexpected();
        std::string name = words.option();
        if (name.empty()) continue;
        if (name != "--json") words.unknown(name);
        words.noValue(name);
        json = true;
    }
    return Send{Command::status(), json};
}

// The one operand of floor, keep-display and update-check; absent when
// none was given.
std::optional<std::string> optionalOperand(Words& words) {
    std::optional<std::string> found;
    while (!words.atEnd()) {
        // "-5" is a number here, not an option.
        if (words.atOption() && !integer<int64_t>(words.peek())) {
            std::string name = words.option();
            if (name.empty()) continue;
            words.unknown(name);
        }
        if (found) words.unexpected();
        found = words.take();
    }
    return found;
}

std::string operand(Words& words, std::string_view what) {
    auto found = optionalOperand(words);
    if (!found) words.fail(words.command() + " needs " + std::string(what));
    return *found;
}

bool onOff(Words& words) {
    std::string word = operand(words, "on or off");
    if (word == "on") return true;
    if (word == "off") return false;
    words.fail("expected on or off, not " + inQuotes(word));
}

Invocation floor(Words& words) {
    auto word = optionalOperand(words);
    if (!word) return ShowSetting{ShowSetting::Which::floor};
    auto percent = integer<int64_t>(*word);
    if (!percent) words.fail(inQuotes(*word) + " is not a whole number");
    // The service clamps other clients' values; a person is told.
    constexpr auto range = LumraKit::Config::floorRange;
    if (*percent < range.lowest || *percent > range.highest)
        words.fail("the floor is a percentage from " + std::to_string(range.lowest) + " to " +
                   std::to_string(range.highest) + ", not " + *word);
    return Send{Command::setFloor(*percent)};
}

// No words shows the hook; --clear removes it; the words of a command may
// follow "--" when its first one starts with "-".
Invocation notifyHook(Words& words) {
    if (words.atEnd()) return ShowSetting{ShowSetting::Which::notifyHook};
    std::vector<std::string> command;
    if (words.atOption()) {
        std::string name = words.option();
        if (name == "--clear") {
            words.noValue(name);
            if (!words.atEnd()) words.unexpected();
        } else if (name.empty()) {
            command = words.rest();
            if (command.empty()) words.fail("-- needs the hook's words (--clear removes the hook)");
        } else {
            words.unknown(name);
        }
    } else {
        command = words.rest();
    }
    std::string joined;
    for (const auto& word : command) joined += (joined.empty() ? "" : " ") + word;
    return Send{Command::setNotifyCommand(std::move(joined))};
}

Invocation grant(Words& words) {
    nothingMore(words);
    return InstallGrant{};
}

struct Entry {
    std::string_view usage;
    std::function<Invocation(Words&, const ParseContext&)> parse;
};

const std::map<std::string_view, Entry>& commands() {
    static const std::map<std::string_view, Entry> table{
        {"status", {Usage::status, [](Words& w, const ParseContext&) { return status(w); }}},
        {"hold", {Usage::hold, hold}},
        {"end", {Usage::end, [](Words& w, const ParseContext&) { return selecting(w, Command::end); }}},
        {"allow-lid", {Usage::allowLid, [](Words& w, const ParseContext&) { return selecting(w, Command::allowLid); }}},
        {"deny-lid", {Usage::denyLid, [](Words& w, const ParseContext&) { return selecting(w, Command::denyLid); }}},
        {"suspend", {Usage::suspend, [](Words& w, const ParseContext&) { return bare(w, Command::suspend()); }}},
        {"resume", {Usage::resume, [](Words& w, const ParseContext&) { return bare(w, Command::resume()); }}},
        {"floor", {Usage::floor, [](Words& w, const ParseContext&) { return floor(w); }}},
        {"notify-hook", {Usage::notifyHook, [](Words& w, const ParseContext&) { return notifyHook(w); }}},
        {"keep-display",
         {Usage::keepDisplay,
          [](Words& w, const ParseContext&) { return Invocation{Send{Command::setKeepDisplay(onOff(w))}}; }}},
        {"update-check",
         {Usage::updateCheck,
          [](Words& w, const ParseContext&) { return Invocation{Send{Command::setUpdateCheck(onOff(w))}}; }}},
        {"grant", {Usage::grant, [](Words& w, const ParseContext&) { return grant(w); }}},
    };
    return table;
}

UsageError unknownCommand(const std::string& word) {
    std::string problem = word.starts_with("-") ? "unknown option " + word : "unknown command " + inQuotes(word);
    return UsageError{"lumra: " + problem, Usage::main, ""};
}

// lumra help [COMMAND]
LumraKit::Result<Invocation, UsageError> help(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1) return Invocation{ShowHelp{Usage::main}};
    if (arguments.size() > 2) return UsageError{"lumra: unexpected argument " + inQuotes(arguments[2]), Usage::main, ""};
    auto entry = commands().find(arguments[1]);
    if (entry == commands().end()) return unknownCommand(arguments[1]);
    return Invocation{ShowHelp{entry->second.usage}};
}

} // namespace

std::string helpHint(const UsageError& error) {
    return "Try 'lumra " + (error.command.empty() ? std::string() : error.command + " ") + "--help'.";
}

LumraKit::Result<Invocation, UsageError> parse(const std::vector<std::string>& arguments, const ParseContext& context) {
    if (arguments.empty()) return UsageError{"lumra: no command given", Usage::main, ""};
    const std::string& first = arguments.front();
    if (isHelp(first)) return Invocation{ShowHelp{Usage::main}};
    if (first == "--version" && arguments.size() == 1) return Invocation{ShowHelp{Usage::version}};
    if (first == "help") return help(arguments);

    auto entry = commands().find(first);
    if (entry == commands().end()) return unknownCommand(first);
    Words words(entry->first, entry->second.usage, std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    try {
        return entry->second.parse(words, context);
    } catch (const Failure& failure) {
        return UsageError{failure.message, failure.usage, failure.command};
    } catch (const HelpAsked&) {
        return Invocation{ShowHelp{entry->second.usage}};
    }
}

} // namespace Client
