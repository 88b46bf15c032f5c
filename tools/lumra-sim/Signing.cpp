#include "Signing.hpp"

#include <Platform/CodeSigning.hpp>
#include <Platform/PropertyList.hpp>
#include <Platform/SimulatedHost.hpp>

#include <iostream>

namespace LumraSim {

namespace {

namespace CodeSigning = Platform::CodeSigning;

// A plist's entitlements as JSON: the signature keeps them in that form.
std::optional<nlohmann::json> toJSON(const Platform::PropertyValue& value) {
    using namespace Platform;
    if (const auto* flag = value.as<bool>()) return *flag;
    if (const auto* number = value.as<int64_t>()) return *number;
    if (const auto* real = value.as<double>()) return *real;
    if (const auto* text = value.as<std::string>()) return *text;
    if (const auto* array = value.as<PropertyArray>()) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& item : *array) {
            auto converted = toJSON(item);
            if (!converted) return std::nullopt;
            list.push_back(*converted);
        }
        return list;
    }
    if (const auto* dictionary = value.as<PropertyDictionary>()) {
        nlohmann::json object = nlohmann::json::object();
        for (const auto& [key, item] : *dictionary) {
            auto converted = toJSON(item);
            if (!converted) return std::nullopt;
            object[key] = *converted;
        }
        return object;
    }
    return std::nullopt; // dates and data have no place in entitlements
}

int verify(const std::string& app) {
    auto problem = CodeSigning::validate(mapped(app), std::nullopt, true);
    std::cout << (problem ? *problem : "valid") << "\n";
    return problem ? 1 : 0;
}

} // namespace

std::filesystem::path mapped(const std::string& macPath) {
    // Only absolute paths can name the simulated machine's locations; a
    // relative one (a build folder) is left alone without laying out a root.
    return macPath.starts_with("/") ? Platform::SimulatedHost::hostPath(macPath) : std::filesystem::path(macPath);
}

std::optional<int> sign(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2 && arguments[0] == "--verify") return verify(arguments[1]);
    std::optional<std::string> app;
    CodeSigning::SigningOptions options;
    bool identityGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        bool hasValue = i + 1 < arguments.size();
        if (word == "--adhoc" && !identityGiven) {
            identityGiven = true;
        } else if (word == "--identity" && hasValue && !identityGiven) {
            options.identity.subject = arguments[++i];
            identityGiven = true;
        } else if (word == "--identifier" && hasValue) {
            options.identifier = arguments[++i];
        } else if (word == "--hardened") {
            options.hardenedRuntime = true;
        } else if (word == "--entitlements" && hasValue) {
            auto plist = Platform::readPropertyList(arguments[++i]);
            auto json = plist ? toJSON(*plist) : std::nullopt;
            if (!json || !json->is_object()) {
                std::cerr << "lumra-sim sign: " << arguments[i] << ": not a property list dictionary\n";
                return 1;
            }
            options.entitlements = *json;
        } else if (!word.starts_with("--") && !app) {
            app = word;
        } else {
            return std::nullopt;
        }
    }
    if (!app || !identityGiven) return std::nullopt;
    if (auto error = CodeSigning::sign(mapped(*app), options)) {
        std::cerr << "lumra-sim sign: " << *error << "\n";
        return 1;
    }
    return 0;
}

} // namespace LumraSim
