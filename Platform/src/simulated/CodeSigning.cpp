#include "Platform/CodeSigning.hpp"
#include "Platform/Files.hpp"
#include "Platform/MainBundle.hpp"

#include <openssl/evp.h>

#include <array>
#include <fcntl.h>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <unistd.h>

namespace Platform::CodeSigning {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::string_view signatureFile = "Contents/_CodeSignature/signature.json";

// The chain above every leaf the simulation issues.
const std::vector<std::string> issuers{"Developer ID Certification Authority", "Root Certificate Authority"};

std::string hex(const unsigned char* bytes, size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

struct DigestFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// The SHA-256 of a file's bytes, or of `text` when no file is given.
std::optional<std::string> sha256(const fs::path* file, std::string_view text = {}) {
    std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    if (file == nullptr) {
        EVP_DigestUpdate(context.get(), text.data(), text.size());
    } else {
        int fd = ::open(file->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        std::array<char, 65536> buffer;
        ssize_t count = 0;
        while ((count = ::read(fd, buffer.data(), buffer.size())) > 0)
            EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(count));
        ::close(fd);
        if (count < 0) return std::nullopt;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return std::nullopt;
    return hex(digest.data(), length);
}

bool isNestedCode(const fs::path& folder) {
    auto extension = folder.extension();
    return extension == ".app" || extension == ".appex" || extension == ".xpc" || extension == ".framework";
}

bool isBundle(const fs::path& path) {
    std::error_code error;
    return isNestedCode(path) && fs::is_directory(path, error);
}

// The bundle that signs `code`, and the executable's path inside it (empty
// for the bundle itself).
std::optional<std::pair<fs::path, std::string>> signer(const fs::path& code) {
    std::error_code error;
    fs::path path = fs::weakly_canonical(code, error);
    if (error) path = code;
    if (isBundle(path)) return std::pair{path, std::string()};
    auto bundle = Bundle::containing(path);
    if (!bundle) return std::nullopt;
    return std::pair{bundle->path, path.lexically_relative(bundle->path).string()};
}

// What the bundle holds now, by path relative to it: regular files by hash,
// links by target, nested bundles by the hash of their signature file (none
// when unsigned). The bundle's own signature is not part of it.
std::map<std::string, json> contents(const fs::path& bundle, std::vector<fs::path>* nestedBundles = nullptr) {
    std::map<std::string, json> found;
    std::error_code error;
    fs::path ownSignatures = bundle / "Contents/_CodeSignature";
    for (fs::recursive_directory_iterator it(bundle, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        std::string relative = path.lexically_relative(bundle).string();
        if (path == ownSignatures) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink(error)) {
            found[relative] = {{"link", fs::read_symlink(path, error).string()}};
        } else if (it->is_directory(error)) {
            if (!isNestedCode(path)) continue;
            it.disable_recursion_pending();
            fs::path signature = path / signatureFile;
            auto hash = sha256(&signature);
            found[relative] = {{"signature", hash ? json(*hash) : json(nullptr)}};
            if (nestedBundles != nullptr) nestedBundles->push_back(path);
        } else {
            auto hash = sha256(&path);
            found[relative] = {{"sha256", hash ? json(*hash) : json(nullptr)}};
        }
    }
    return found;
}

struct Signature {
    json document;
    std::string bytes;
};

std::optional<Signature> readSignature(const fs::path& bundle) {
    auto bytes = Files::read(bundle / signatureFile);
    if (!bytes) return std::nullopt;
    auto document = json::parse(*bytes, nullptr, false);
    if (!document.is_object()) return Signature{json(), *bytes};
    return Signature{std::move(document), std::move(*bytes)};
}

std::optional<SigningInformation> information(const Signature& signature) {
    const json& document = signature.document;
    try {
        SigningInformation info;
        info.identifier = document.at("identifier").get<std::string>();
        if (document.contains("team") && document["team"].is_string()) info.team = document["team"].get<std::string>();
        info.certificates = document.at("certificates").get<std::vector<std::string>>();
        info.adhoc = document.at("adhoc").get<bool>();
        info.flags = document.at("flags").get<uint32_t>();
        info.entitlements = document.value("entitlements", json::object());
        if (!document.at("files").is_object()) return std::nullopt;
        auto hash = sha256(nullptr, signature.bytes);
        if (!hash) return std::nullopt;
        info.cdhash = hash->substr(0, 40);
        return info;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

std::string joined(const std::string& prefix, const std::string& relative) {
    return prefix.empty() ? relative : prefix + "/" + relative;
}

// The first problem of the bundle, with paths behind `prefix`.
std::optional<std::string> problem(const fs::path& bundle, const std::string& prefix, bool nested) {
    auto signature = readSignature(bundle);
    if (!signature)
        return prefix.empty() ? "code object is not signed at all"
                              : "file missing: " + joined(prefix, signatureFile.data());
    if (!information(*signature)) return "the signature is damaged";
    const json& sealed = signature->document["files"];
    std::map<std::string, json> present = contents(bundle);

    std::set<std::string> paths;
    for (const auto& [path, entry] : sealed.items()) paths.insert(path);
    for (const auto& [path, entry] : present) paths.insert(path);
    for (const auto& path : paths) {
        auto now = present.find(path);
        bool wasSealed = sealed.contains(path);
        if (now == present.end()) return "file missing: " + joined(prefix, path);
        if (!wasSealed) return "file added: " + joined(prefix, path);
        if (nested && now->second.contains("signature")) {
            if (auto inner = problem(bundle / path, joined(prefix, path), true)) return inner;
        }
        if (now->second != sealed[path]) return "file modified: " + joined(prefix, path);
    }
    return std::nullopt;
}

} // namespace

std::string Requirement::text() const {
    std::string text = "identifier \"" + identifier + "\"";
    if (team) text += " and anchor apple generic and certificate leaf[subject.OU] = \"" + *team + "\"";
    if (cdhash) text += " and cdhash H\"" + *cdhash + "\"";
    return text;
}

std::optional<std::string> teamOf(const std::string& subject) {
    static const std::regex trailing(R"(\(([A-Z0-9]+)\)\s*$)");
    std::smatch match;
    if (!std::regex_search(subject, match, trailing)) return std::nullopt;
    return match[1].str();
}

std::optional<std::string> sign(const fs::path& bundle, const SigningOptions& options) {
    auto info = readBundleInfo(bundle);
    if (!isBundle(bundle) || !info) return bundle.string() + ": not a bundle (no readable Contents/Info.plist)";
    auto identifier = options.identifier ? options.identifier : textValue(*info, "CFBundleIdentifier");
    if (!identifier || identifier->empty()) return bundle.string() + ": the bundle has no CFBundleIdentifier";

    std::vector<fs::path> nestedBundles;
    contents(bundle, &nestedBundles);
    for (const auto& inner : nestedBundles) {
        SigningOptions innerOptions{options.identity, std::nullopt, options.hardenedRuntime, json::object()};
        if (auto error = sign(inner, innerOptions)) return error;
    }

    json files = json::object();
    for (auto& [path, entry] : contents(bundle)) {
        for (const auto& [kind, value] : entry.items())
            if (value.is_null()) return (bundle / path).string() + ": cannot be read";
        files[path] = entry;
    }
    json document{{"identifier", *identifier},
                  {"adhoc", !options.identity.subject},
                  {"flags", options.hardenedRuntime ? runtimeFlag : 0},
                  {"entitlements", options.entitlements},
                  {"files", files}};
    if (options.identity.subject) {
        std::vector<std::string> chain{*options.identity.subject};
        chain.insert(chain.end(), issuers.begin(), issuers.end());
        document["certificates"] = chain;
        auto team = teamOf(*options.identity.subject);
        document["team"] = team ? json(*team) : json(nullptr);
    } else {
        document["certificates"] = json::array();
        document["team"] = nullptr;
    }
    fs::path file = bundle / signatureFile;
    Files::createDirectories(file.parent_path());
    if (auto error = Files::writeAtomically(file, document.dump(2) + "\n"))
        return file.string() + ": " + error.message();
    return std::nullopt;
}

std::optional<SigningInformation> signingInformation(const fs::path& code) {
    auto found = signer(code);
    if (!found) return std::nullopt;
    auto signature = readSignature(found->first);
    if (!signature) return std::nullopt;
    auto info = information(*signature);
    // An executable the signature does not seal is not signed by it.
    if (info && !found->second.empty() && !signature->document["files"].contains(found->second)) return std::nullopt;
    return info;
}

std::optional<SigningInformation> ownSigningInformation() {
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return signingInformation(executable);
}

std::optional<Requirement> designatedRequirement(const fs::path& code) {
    auto info = signingInformation(code);
    if (!info) return std::nullopt;
    if (info->adhoc || !info->team) return Requirement{info->identifier, std::nullopt, info->cdhash};
    return Requirement{info->identifier, info->team, std::nullopt};
}

std::optional<std::string> validate(const fs::path& code, const std::optional<Requirement>& requirement, bool nested) {
    auto found = signer(code);
    if (!found) return "code object is not signed at all";
    const auto& [bundle, executable] = *found;
    if (executable.empty()) {
        if (auto trouble = problem(bundle, "", nested)) return trouble;
    } else {
        auto signature = readSignature(bundle);
        if (!signature) return "code object is not signed at all";
        if (!information(*signature)) return "the signature is damaged";
        const json& sealed = signature->document["files"];
        if (!sealed.contains(executable)) return "code object is not signed at all";
        fs::path path = bundle / executable;
        auto hash = sha256(&path);
        if (!hash) return "file missing: " + executable;
        if (sealed[executable] != json{{"sha256", *hash}}) return "file modified: " + executable;
    }
    if (!requirement) return std::nullopt;
    auto info = signingInformation(code);
    bool satisfied = info && info->identifier == requirement->identifier &&
                     (!requirement->team || (info->team == requirement->team && !info->adhoc)) &&
                     (!requirement->cdhash || info->cdhash == *requirement->cdhash);
    if (!satisfied) return "does not satisfy its requirement";
    return std::nullopt;
}

} // namespace Platform::CodeSigning
