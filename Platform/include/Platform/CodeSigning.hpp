#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Code signatures on the simulated Mac. A signed bundle carries its signature
// in Contents/_CodeSignature/signature.json: who signed it (the certificate
// chain, leaf first, and the team), whether it is ad hoc, the hardened-runtime
// flag, the entitlements, and a manifest of every file in the bundle by its
// SHA-256 (a nested bundle by the hash of its own signature). An executable is
// signed when the bundle whose Contents/MacOS holds it is. Paths are host
// paths. Any thread.
namespace Platform::CodeSigning {

// The signing flag for the hardened runtime, as signing information reports it.
inline constexpr uint32_t runtimeFlag = 0x10000;

// Who signs: a certificate subject such as
// "Developer ID Application: Lumra Project (LUMRA00001)", or ad hoc.
struct Identity {
    std::optional<std::string> subject; // none: ad hoc

    static Identity adhoc() { return {}; }
};

struct SigningOptions {
    Identity identity;
    // The bundle's identifier as signed; none: its CFBundleIdentifier.
    std::optional<std::string> identifier;
    bool hardenedRuntime = false;
    nlohmann::json entitlements = nlohmann::json::object();
};

// What a signature says about the code.
struct SigningInformation {
    std::string identifier;
    std::optional<std::string> team;
    // Certificate subject summaries, leaf first; empty when ad hoc.
    std::vector<std::string> certificates;
    bool adhoc = false;
    uint32_t flags = 0; // runtimeFlag when hardened
    nlohmann::json entitlements = nlohmann::json::object();
    // The hash of the signature's manifest: it changes with any sealed byte.
    std::string cdhash;
};

// What code must be to count as the same program: its identifier and team,
// or, for ad hoc code (which has no team), its identifier and exact hash.
struct Requirement {
    std::string identifier;
    std::optional<std::string> team;
    std::optional<std::string> cdhash;

    // The requirement in the platform's language, for logs.
    std::string text() const;
    bool operator==(const Requirement&) const = default;
};

// Signs the bundle at `bundle`: every nested bundle (in Contents, depth
// first) is signed first with the same identity, then the bundle itself.
// Answers an error text, or nothing on success.
std::optional<std::string> sign(const std::filesystem::path& bundle, const SigningOptions& options);

// The signature of the bundle, or of the executable's bundle; nothing for
// unsigned code or a damaged signature file.
std::optional<SigningInformation> signingInformation(const std::filesystem::path& code);

// The signing information of the running executable (/proc/self/exe).
std::optional<SigningInformation> ownSigningInformation();

// The designated requirement of the code; nothing when it is unsigned.
std::optional<Requirement> designatedRequirement(const std::filesystem::path& code);

// Validates the code: an executable against its bundle's manifest entry for
// it, a bundle whole (nothing missing, nothing added, every hash equal,
// nested bundles in turn when `nested`), and then, when given, against the
// requirement. Nothing when valid, else the first problem, in the words
// `lumra-sim sign --verify` prints: "code object is not signed at all",
// "file modified: <path>", "file added: <path>", "file missing: <path>",
// "the signature is damaged", "does not satisfy its requirement", with paths
// relative to the outermost bundle checked.
std::optional<std::string> validate(const std::filesystem::path& code, const std::optional<Requirement>& requirement,
                                    bool nested = true);

// The team in a subject's trailing parenthesised group of capitals and
// digits, if any: "Developer ID Application: A (AB12CD34EF)" gives AB12CD34EF.
std::optional<std::string> teamOf(const std::string& subject);

} // namespace Platform::CodeSigning
