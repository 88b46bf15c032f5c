#include "Platform/Trash.hpp"
#include "Platform/Credentials.hpp"
#include "Platform/Files.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/User.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace Platform::Trash {

namespace {

namespace fs = std::filesystem;

// The macOS path of the Trash an item at `macPath` goes to.
std::string trashFolder(const std::string& macPath) {
    constexpr std::string_view volumes = "/Volumes/";
    if (macPath.starts_with(volumes)) {
        size_t end = macPath.find('/', volumes.size());
        if (end != std::string::npos && end > volumes.size())
            return macPath.substr(0, end) + "/.Trashes/" + std::to_string(Credentials::currentUID());
    }
    return (homeDirectory() / ".Trash").string();
}

Failure failure(int error) { return {std::strerror(error)}; }

} // namespace

std::string trashName(const std::string& name, int n) {
    if (n <= 1) return name;
    fs::path path(name);
    std::string extension = path.extension().string();
    std::string stem = name.substr(0, name.size() - extension.size());
    return stem + " " + std::to_string(n) + extension;
}

std::variant<std::string, Failure> moveToTrash(const std::string& macPath) {
    fs::path source = SimulatedHost::hostPath(macPath);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(source, error))) return failure(ENOENT);
    std::string name = fs::path(macPath).lexically_normal().filename().string();
    if (name.empty()) return failure(EINVAL);

    std::string folder = trashFolder(macPath);
    fs::path trash = SimulatedHost::hostPath(folder);
    if (auto made = Files::createDirectories(trash)) return Failure{made.message()};

    for (int n = 1;; ++n) {
        std::string chosen = trashName(name, n);
        fs::path target = trash / chosen;
        if (fs::exists(fs::symlink_status(target, error))) continue;
        // rename() would replace an item that appeared meanwhile; a hard
        // link or an exclusive create would not, but neither moves folders.
        if (::rename(source.c_str(), target.c_str()) == 0) return folder + "/" + chosen;
        if (errno != EXDEV) return failure(errno);

        fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
        if (error) {
            fs::remove_all(target);
            return Failure{error.message()};
        }
        fs::remove_all(source, error);
        if (error) return Failure{error.message()};
        return folder + "/" + chosen;
    }
}

} // namespace Platform::Trash
