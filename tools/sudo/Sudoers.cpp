#include "Sudoers.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace Sudo {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    for (;;) {
        size_t at = text.find(separator);
        pieces.emplace_back(trimmed(text.substr(0, at)));
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + 1);
    }
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isSpace(text[at])) ++at;
        size_t start = at;
        while (at < text.size() && !isSpace(text[at])) ++at;
        if (at > start) result.emplace_back(text.substr(start, at - start));
    }
    return result;
}

// The logical lines: comments gone, continued lines joined, blank ones dropped.
std::vector<std::string> logicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string pending;
    for (size_t at = 0; at <= text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        // '#' at the start or after white space opens a comment.
        for (size_t i = 0; i < line.size(); ++i)
            if (line[i] == '#' && (i == 0 || isSpace(line[i - 1]))) {
                line = line.substr(0, i);
                break;
            }
        line = trimmed(line);
        if (line.ends_with('\\')) {
            pending.append(line.substr(0, line.size() - 1)).append(" ");
            continue;
        }
        pending.append(line);
        if (!trimmed(pending).empty()) lines.emplace_back(trimmed(pending));
        pending.clear();
        if (end == text.size()) break;
    }
    if (!trimmed(pending).empty()) lines.emplace_back(trimmed(pending));
    return lines;
}

bool isDefaults(std::string_view line) {
    return line.starts_with("Defaults") &&
           (line.size() == 8 || isSpace(line[8]) || std::string_view(":@!>").find(line[8]) != std::string_view::npos);
}

std::optional<Rule> parseRule(std::string_view line) {
    Rule rule;
    size_t userEnd = 0;
    while (userEnd < line.size() && !isSpace(line[userEnd])) ++userEnd;
    std::string_view first = line.substr(0, userEnd);
    for (std::string_view alias : {"User_Alias", "Runas_Alias", "Host_Alias", "Cmnd_Alias", "Cmd_Alias"})
        if (first == alias) return std::nullopt; // aliases are beyond what the drop-ins need
    rule.users = split(first, ',');
    for (const auto& user : rule.users)
        if (user.empty()) return std::nullopt;

    std::string_view rest = trimmed(line.substr(userEnd));
    size_t equals = rest.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    rule.host = std::string(trimmed(rest.substr(0, equals)));
    if (rule.host.empty() || words(rule.host).size() != 1) return std::nullopt;
    rest = trimmed(rest.substr(equals + 1));

    if (rest.starts_with('(')) {
        size_t close = rest.find(')');
        if (close == std::string_view::npos) return std::nullopt;
        std::string_view runas = rest.substr(1, close - 1);
        rule.runAs = split(runas.substr(0, runas.find(':')), ',');
        rest = trimmed(rest.substr(close + 1));
    }

    for (bool tagged = true; tagged;) {
        tagged = false;
        for (std::string_view tag : {"NOPASSWD:", "PASSWD:", "SETENV:", "NOSETENV:", "EXEC:", "NOEXEC:"})
            if (rest.starts_with(tag)) {
                if (tag == "NOPASSWD:") rule.noPassword = true;
                if (tag == "PASSWD:") rule.noPassword = false;
                rest = trimmed(rest.substr(tag.size()));
                tagged = true;
            }
    }

    for (const auto& command : split(rest, ',')) {
        if (command == "ALL") {
            rule.anyCommand = true;
            continue;
        }
        auto parts = words(command);
        if (parts.empty() || !parts[0].starts_with('/')) return std::nullopt;
        rule.commands.push_back(std::move(parts));
    }
    return rule;
}

bool names(const Rule& rule, const Asker& asker) {
    return std::any_of(rule.users.begin(), rule.users.end(), [&](const std::string& name) {
        if (name.starts_with('%'))
            return std::find(asker.groups.begin(), asker.groups.end(), name.substr(1)) != asker.groups.end();
        return name == asker.user || name == "ALL";
    });
}

bool onHost(const Rule& rule, std::string_view host) {
    std::string_view shortHost = host.substr(0, host.find('.'));
    return rule.host == "ALL" || rule.host == host || rule.host == shortHost;
}

bool allows(const std::vector<std::string>& allowed, const std::vector<std::string>& command) {
    if (command.empty() || allowed[0] != command[0]) return false;
    if (allowed.size() == 1) return true;
    if (allowed.size() == 2 && allowed[1] == "\"\"") return command.size() == 1;
    return allowed == command;
}

bool allows(const Rule& rule, const std::vector<std::string>& command, std::string_view runAs) {
    if (std::none_of(rule.runAs.begin(), rule.runAs.end(),
                     [&](const std::string& user) { return user == runAs || user == "ALL"; }))
        return false;
    if (rule.anyCommand) return true;
    return std::any_of(rule.commands.begin(), rule.commands.end(),
                       [&](const auto& allowed) { return allows(allowed, command); });
}

} // namespace

std::optional<std::vector<Rule>> parse(std::string_view text) {
    std::vector<Rule> rules;
    for (const auto& line : logicalLines(text)) {
        if (isDefaults(line)) continue;
        auto rule = parseRule(line);
        if (!rule) return std::nullopt;
        rules.push_back(std::move(*rule));
    }
    return rules;
}

std::vector<std::filesystem::path> dropIns(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.find('.') != std::string::npos || name.ends_with('~')) continue;
        if (entry->is_regular_file(error)) files.push_back(entry->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<Rule> loadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str()).value_or(std::vector<Rule>{});
}

Verdict decide(const std::vector<Rule>& rules, const Asker& asker, std::string_view host,
               const std::vector<std::string>& command, std::string_view runAs) {
    bool named = false, withPassword = false;
    for (const auto& rule : rules) {
        if (!names(rule, asker) || !onHost(rule, host)) continue;
        named = true;
        if (!allows(rule, command, runAs)) continue;
        if (rule.noPassword) return Verdict::run;
        withPassword = true;
    }
    if (withPassword) return Verdict::passwordRequired;
    return named ? Verdict::notAllowed : Verdict::notListed;
}

} // namespace Sudo
