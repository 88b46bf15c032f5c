#pragma once

#include <TestSupport/TempDir.hpp>

#include <systemd/sd-bus.h>

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace TestSupport {

// A message bus of a test's own: one dbus-daemon listening on a socket in a
// temporary folder, which stands for both the system and the session bus of
// the programs under test, and the mock services the test starts on it
// (python3-dbusmock templates, run by the distribution's /usr/bin/python3).
// Nothing reaches the machine's own buses, so tests run where there are
// none. Everything it started is ended when it goes. One thread.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    // DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS, both this bus.
    std::map<std::string, std::string> environment() const;

    // Starts a mock from `templateName` (a dbusmock template such as "logind",
    // or the path of a template file) with its JSON `parameters`, and waits
    // until it owns `busName`. Returns its process ID; empty text for the
    // parameters means none.
    pid_t startMock(const std::string& templateName, const std::string& busName,
                    const std::string& parameters = "");
    // Ends a mock and waits until its name is free.
    void stopMock(pid_t pid, const std::string& busName);

    // The test's own connection, to steer the mocks and look at them.
    sd_bus* bus() const { return bus_; }
    bool hasOwner(const std::string& name) const;

    // Calls a method; the reply (unref it), or nullptr with the error's name
    // and text put in `error`.
    template <typename... Arguments>
    sd_bus_message* call(std::string* error, const char* destination, const char* path, const char* interface,
                         const char* member, const char* signature, Arguments... arguments) const {
        sd_bus_error failure{}; // all null: SD_BUS_ERROR_NULL is a C compound literal
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, destination, path, interface, member, &failure, &reply, signature,
                               arguments...) < 0) {
            if (error) *error = std::string(failure.name ? failure.name : "") + ": " + (failure.message ? failure.message : "");
            sd_bus_error_free(&failure);
            return nullptr;
        }
        return reply;
    }

    // One of the login manager mock's locks.
    struct Inhibitor {
        std::string what, who, why, mode;
        friend bool operator==(const Inhibitor&, const Inhibitor&) = default;
    };
    // The login manager mock's locks now.
    std::vector<Inhibitor> inhibitors() const;

    // Sets a mock's property through org.freedesktop.DBus.Properties.Set.
    void setBoolean(const char* destination, const char* path, const char* interface, const char* name, bool value);
    void setString(const char* destination, const char* path, const char* interface, const char* name,
                   const char* value);

private:
    TempDir folder_;
    pid_t daemon_ = -1;
    std::string address_;
    sd_bus* bus_ = nullptr;
    std::vector<pid_t> mocks_;
};

} // namespace TestSupport
