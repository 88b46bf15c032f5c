// pmset: the stand-in for macOS's power management tool on the simulated
// machine. It knows the settings the service uses: reading them (-g), the
// system-wide sleep-disable flag (which only root may change) and sleeping
// at once.

#include <Platform/Files.hpp>
#include <Platform/ISODate.hpp>
#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace Power = Platform::Power;
namespace SimulatedHost = Platform::SimulatedHost;

constexpr const char* usage = "Usage: pmset -g\n"
                              "       pmset [-a | -b | -c | -u] disablesleep 0 | 1\n"
                              "       pmset sleepnow\n"
                              "See pmset(1) for details: 'man pmset'\n";

int print(int fd, const std::string& text, int status) {
    Platform::Files::writeAll(fd, text);
    return status;
}

int usageError() { return print(STDERR_FILENO, usage, 1); }

std::string settings(const std::filesystem::path& root) {
    std::string text = "System-wide power settings:\n";
    text += std::string(" SleepDisabled\t\t") + (Power::sleepDisabled(root) ? "1" : "0") + "\n";
    text += "Currently in use:\n"
            " standby              1\n"
            " Sleep On Power Button 1\n"
            " hibernatefile        /var/vm/sleepimage\n"
            " powernap             1\n"
            " networkoversleep     0\n"
            " disksleep            10\n"
            " sleep                1 (sleep prevented by powerd)\n"
            " hibernatemode        3\n"
            " ttyskeepawake        1\n"
            " displaysleep         10\n"
            " tcpkeepalive         1\n";
    text += std::string(" lowpowermode         ") + (Power::lowPowerMode(root) ? "1" : "0") + "\n";
    text += " womp                 1\n";
    return text;
}

int disableSleep(const std::string& value, const std::filesystem::path& root) {
    if (value != "0" && value != "1") return usageError();
    if (!SimulatedHost::runsAsRoot()) return print(STDERR_FILENO, "Error: Insufficient privileges\n", 1);
    if (!Power::setSleepDisabled(value == "1", root))
        return print(STDERR_FILENO, "Error: the power settings cannot be written\n", 1);
    return 0;
}

std::string isoNow() {
    return Platform::ISODate::format(std::chrono::system_clock::now());
}

// A test or a person makes the next sleep requests fail with
// power/sleepnow-error.json: {"status": 1..255, "stderr": "text"}.
int sleepNow(const std::filesystem::path& root) {
    if (auto text = Platform::Files::read(root / "power/sleepnow-error.json")) {
        auto failure = nlohmann::json::parse(*text, nullptr, false);
        if (failure.is_object() && failure.contains("status") && failure["status"].is_number_integer()) {
            auto status = failure["status"].get<int64_t>();
            auto text = failure.find("stderr");
            std::string stderrText = text != failure.end() && text->is_string() ? text->get<std::string>() : "";
            if (status >= 1 && status <= 255) return print(STDERR_FILENO, stderrText, static_cast<int>(status));
        }
    }
    Platform::Files::createDirectories(root / "power");
    Platform::Files::append(root / "power/sleepnow.log", isoNow() + "\n");
    return print(STDOUT_FILENO, "Sleeping now...\n", 0);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto& root = SimulatedHost::root();

    if (arguments == std::vector<std::string>{"-g"}) return print(STDOUT_FILENO, settings(root), 0);
    if (arguments == std::vector<std::string>{"sleepnow"}) return sleepNow(root);
    if (arguments.size() == 3 &&
        (arguments[0] == "-a" || arguments[0] == "-b" || arguments[0] == "-c" || arguments[0] == "-u") &&
        arguments[1] == "disablesleep")
        return disableSleep(arguments[2], root);
    if (arguments.size() == 2 && arguments[0] == "disablesleep") return disableSleep(arguments[1], root);
    return usageError();
}
