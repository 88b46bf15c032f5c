#include "Bus.hpp"

#include <cerrno>
#include <cstring>

namespace LumraKit::Linux {

namespace {

constexpr uint64_t callDeadlineMicroseconds = 2'000'000;

} // namespace

bool BusError::unreachable() const {
    return name.empty() || name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER ||
           name == SD_BUS_ERROR_DISCONNECTED || name == SD_BUS_ERROR_NO_SERVER;
}

bool BusError::accessDenied() const {
    return name == SD_BUS_ERROR_ACCESS_DENIED || name == SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED ||
           name == SD_BUS_ERROR_AUTH_FAILED;
}

std::string BusError::text() const { return name.empty() ? message : name + ": " + message; }

Bus::Bus(Kind kind, std::string address) : kind_(kind), address_(std::move(address)) {}

Bus::~Bus() { sd_bus_flush_close_unref(bus_); }

std::variant<sd_bus*, BusError> Bus::connection() {
    if (bus_ && sd_bus_is_open(bus_) > 0) return bus_;
    bus_ = sd_bus_flush_close_unref(bus_);

    sd_bus* bus = nullptr;
    int result = 0;
    if (address_.empty()) {
        result = kind_ == Kind::system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
    } else if ((result = sd_bus_new(&bus)) >= 0) {
        if ((result = sd_bus_set_address(bus, address_.c_str())) >= 0 &&
            (result = sd_bus_set_bus_client(bus, 1)) >= 0)
            result = sd_bus_start(bus);
    }
    if (result >= 0) result = sd_bus_set_method_call_timeout(bus, callDeadlineMicroseconds);
    if (result < 0) {
        sd_bus_unref(bus);
        std::string which = kind_ == Kind::system ? "system" : "session";
        return BusError{"", "no " + which + " bus (" + std::strerror(-result) + ")"};
    }
    bus_ = bus;
    return bus_;
}

std::variant<Reply, BusError> Bus::property(const char* destination, const char* path, const char* interface,
                                            const char* name) {
    return call(destination, path, "org.freedesktop.DBus.Properties", "Get", "ss", interface, name);
}

bool Bus::hasOwner(const char* name) {
    auto reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner", "s",
                      name);
    int owned = 0;
    auto* answer = std::get_if<Reply>(&reply);
    return answer && sd_bus_message_read(answer->get(), "b", &owned) >= 0 && owned != 0;
}

BusError Bus::failed(int result, sd_bus_error* error) {
    BusError failure;
    if (sd_bus_error_is_set(error)) {
        failure.name = error->name;
        failure.message = error->message ? error->message : "";
    } else {
        failure.message = std::strerror(-result);
    }
    sd_bus_error_free(error);
    // A broken connection is made again on the next call.
    if (bus_ && sd_bus_is_open(bus_) <= 0) bus_ = sd_bus_flush_close_unref(bus_);
    return failure;
}

bool readVariant(sd_bus_message* message, char type, void* value) {
    const char contents[2] = {type, '\0'};
    if (sd_bus_message_enter_container(message, 'v', contents) < 0) {
        sd_bus_message_skip(message, "v");
        return false;
    }
    bool read = sd_bus_message_read_basic(message, type, value) > 0;
    sd_bus_message_exit_container(message);
    return read;
}

} // namespace LumraKit::Linux
