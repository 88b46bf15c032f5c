#pragma once

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace TestSupport {

// Sets and clears environment variables for a while and puts each back as
// it was when the object goes (or at restore()). Not thread-safe, like the
// environment itself.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    // A null value clears the variable.
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            if (value)
                set(name, value);
            else
                unset(name);
        }
    }
    ~ScopedEnvironment() { restore(); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value) {
        save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name) {
        save(name);
        ::unsetenv(name.c_str());
    }

    // Puts every variable touched so far back as it was.
    void restore() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        saved_.clear();
    }

private:
    void save(const std::string& name) {
        if (saved_.contains(name)) return;
        const char* value = std::getenv(name.c_str());
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

} // namespace TestSupport
