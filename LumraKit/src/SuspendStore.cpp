#include "LumraKit/SuspendStore.hpp"
#include "LumraKit/Identity.hpp"
#include "LumraKit/JSONCoder.hpp"
#include "LumraKit/Log.hpp"
#include "LumraKit/Process.hpp"

#include "DecodeHelpers.hpp"

#include <Platform/Files.hpp>

#include <nlohmann/json.hpp>

namespace LumraKit {

SuspendStore::SuspendStore() : SuspendStore(Paths::current().suspendFile, [] { return LumraKit::bootTime(); }) {}

SuspendStore::SuspendStore(std::filesystem::path file, std::function<Platform::Date()> bootTime)
    : file_(std::move(file)), bootTime_(std::move(bootTime)) {}

std::optional<Platform::Date> SuspendStore::load() const {
    auto text = Platform::Files::read(file_);
    if (!text) return std::nullopt;
    Platform::Date date;
    try {
        date = Decode::date(JSONCoder::iso, JSONCoder::iso.decode(*text), "suspended");
    } catch (const DecodingError&) {
        return std::nullopt;
    }
    // The file keeps whole seconds, so a suspension made in the boot's own
    // second reads as that second: compare at that resolution, or it would be
    // taken for one from before the boot.
    auto bootSecond = std::chrono::floor<std::chrono::seconds>(bootTime_());
    if (date >= bootSecond) return date;
    log("suspend switch predates this boot, clearing");
    save(std::nullopt);
    return std::nullopt;
}

void SuspendStore::save(std::optional<Platform::Date> date) const {
    if (!date) {
        std::error_code ignored;
        std::filesystem::remove(file_, ignored);
        return;
    }
    Platform::Files::createDirectories(file_.parent_path(), Paths::privateFolderMode);
    std::string text = JSONCoder::iso.encode(JSONCoder::iso.encodeDate(*date));
    if (auto error = Platform::Files::writeAtomically(file_, text, Paths::privateFileMode))
        log("suspended.json not written, keeping the previous file: " + error.message());
}

} // namespace LumraKit
