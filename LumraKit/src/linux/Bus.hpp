#pragma once

// One connection to a message bus through sd-bus, for the Linux world: made
// when first needed, dropped when it breaks and made again on the next call,
// so a bus that comes up after the service (or restarts under it) is found
// again. Every call has a short deadline, so a service that hangs cannot
// stall the engine's thread. Main thread only.

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace LumraKit::Linux {

// Why a call failed: the bus's error name (empty for a local failure such as
// no connection) and its text.
struct BusError {
    std::string name;
    std::string message;

    // Nobody answers there: no connection, or no owner of the name.
    bool unreachable() const;
    // The peer refused for lack of authorisation (polkit said no, or would
    // have asked for a password).
    bool accessDenied() const;
    // "<name>: <message>", or the message alone for a local failure.
    std::string text() const;
};

// Owns one reply message.
class Reply {
public:
    explicit Reply(sd_bus_message* message) : message_(message) {}
    ~Reply() { sd_bus_message_unref(message_); }
    Reply(Reply&& other) noexcept : message_(std::exchange(other.message_, nullptr)) {}
    Reply& operator=(Reply&&) = delete;
    Reply(const Reply&) = delete;
    sd_bus_message* get() const { return message_; }

private:
    sd_bus_message* message_;
};

class Bus {
public:
    enum class Kind { system, session };

    // `address` empty: the default bus of that kind (DBUS_SYSTEM_BUS_ADDRESS
    // or the well-known socket; DBUS_SESSION_BUS_ADDRESS or the user's
    // runtime folder).
    Bus(Kind kind, std::string address);
    ~Bus();
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // The connection, made now if there is none; an error when it cannot be.
    std::variant<sd_bus*, BusError> connection();

    // Calls a method and waits for its reply (2 s at most).
    template <typename... Arguments>
    std::variant<Reply, BusError> call(const char* destination, const char* path, const char* interface,
                                       const char* member, const char* signature, Arguments... arguments) {
        auto connected = connection();
        if (auto* error = std::get_if<BusError>(&connected)) return std::move(*error);
        sd_bus_error error{}; // all null: SD_BUS_ERROR_NULL is a C compound literal
        sd_bus_message* reply = nullptr;
        int result = sd_bus_call_method(std::get<sd_bus*>(connected), destination, path, interface, member, &error,
                                        &reply, signature, arguments...);
        if (result < 0) return failed(result, &error);
        return Reply(reply);
    }

    // A property's value through org.freedesktop.DBus.Properties.Get; the
    // reply is positioned at the variant.
    std::variant<Reply, BusError> property(const char* destination, const char* path, const char* interface,
                                           const char* name);

    // Whether `name` has an owner on this bus now; false when the bus is unreachable.
    bool hasOwner(const char* name);

private:
    BusError failed(int result, sd_bus_error* error);

    Kind kind_;
    std::string address_;
    sd_bus* bus_ = nullptr;
};

// Reads a basic value of type `type` ('b', 'u', 'd', 's', …) from a variant
// at the reply's position; false when the variant holds another type.
bool readVariant(sd_bus_message* message, char type, void* value);

} // namespace LumraKit::Linux
