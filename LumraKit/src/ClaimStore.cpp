#include "LumraKit/ClaimStore.hpp"
#include "LumraKit/Identity.hpp"
#include "LumraKit/Log.hpp"

#include <Platform/Files.hpp>

#include <nlohmann/json.hpp>

#include <unicode/utf8.h>

#include <climits>

namespace LumraKit {

namespace {

bool isUTF8(std::string_view text) {
    // ICU's macros index with 32 bits; a claims file beyond that is not text
    // worth printing anyway.
    if (text.size() > static_cast<size_t>(INT32_MAX)) return false;
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT(text.data(), at, length, c);
        if (c < 0) return false;
    }
    return true;
}

} // namespace

ClaimStore::ClaimStore() : ClaimStore(Paths::current().claimsFile) {}

ClaimStore::ClaimStore(std::filesystem::path file) : file_(std::move(file)) {}

std::string ClaimStore::encode(const std::vector<Claim>& claims) {
    return JSONCoder::plain.encode(toJSON(claims, JSONCoder::plain));
}

std::vector<Claim> ClaimStore::decode(std::string_view text) {
    return claimsFromJSON(JSONCoder::plain.decode(text), JSONCoder::plain);
}

std::vector<Claim> ClaimStore::load() const {
    auto text = Platform::Files::read(file_);
    if (!text) return {};
    try {
        return decode(*text);
    } catch (const DecodingError&) {
        log("claims.json undecodable, clearing: " + (isUTF8(*text) ? *text : std::string("<binary>")));
        clear();
        return {};
    }
}

void ClaimStore::save(const std::vector<Claim>& claims) const {
    if (claims.empty()) {
        clear();
        return;
    }
    Platform::Files::createDirectories(file_.parent_path(), Paths::privateFolderMode);
    if (auto error = Platform::Files::writeAtomically(file_, encode(claims), Paths::privateFileMode))
        log("claims.json not written, keeping the previous file: " + error.message());
}

void ClaimStore::clear() const {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
}

} // namespace LumraKit
