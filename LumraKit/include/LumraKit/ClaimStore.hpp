#pragma once

#include <LumraKit/Claim.hpp>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace LumraKit {

// The claim list in claims.json, one JSON array in the plain form. Stateless:
// each call reads or writes the whole file, and the atomic replace means a
// reader (or the next start after a crash) sees an old or a new complete
// list. Never throws; an empty list is stored as no file at all.
class ClaimStore {
public:
    // The process's store, at Paths::current().claimsFile.
    ClaimStore();
    explicit ClaimStore(std::filesystem::path file);

    // The stored claims in file order; empty when there is no readable file.
    // A file that does not decode is logged once with its text and removed,
    // so the next start begins clean.
    std::vector<Claim> load() const;

    // An empty list removes the file. A failed write is logged and the old
    // file kept.
    void save(const std::vector<Claim>& claims) const;

    // Removes the file; a missing one is fine.
    void clear() const;

    // The file's text for a list, and back (throws DecodingError).
    static std::string encode(const std::vector<Claim>& claims);
    static std::vector<Claim> decode(std::string_view text);

private:
    std::filesystem::path file_;
};

} // namespace LumraKit
