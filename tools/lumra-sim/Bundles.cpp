#include "Signing.hpp"

#include <Platform/Files.hpp>
#include <Platform/PropertyList.hpp>

#include <iostream>

namespace LumraSim {

namespace {

namespace fs = std::filesystem;
using Platform::PropertyDictionary;

struct Extension {
    std::string name, identifier;
};

struct Design {
    std::string app, identifier, name, executable, version = "1.0";
    std::optional<std::string> program = std::string(LUMRA_APP_EXE);
    std::vector<std::string> agents, daemons;
    std::vector<Extension> extensions;
};

std::optional<Design> parse(const std::vector<std::string>& arguments) {
    Design design;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& word = arguments[i];
        if (word == "--no-program") {
            design.program.reset();
            continue;
        }
        if (!word.starts_with("--")) {
            if (!design.app.empty()) return std::nullopt;
            design.app = word;
            continue;
        }
        if (i + 1 >= arguments.size()) return std::nullopt;
        const std::string& value = arguments[++i];
        if (word == "--identifier")
            design.identifier = value;
        else if (word == "--name")
            design.name = value;
        else if (word == "--executable")
            design.executable = value;
        else if (word == "--program")
            design.program = value;
        else if (word == "--version")
            design.version = value;
        else if (word == "--agent")
            design.agents.push_back(value);
        else if (word == "--daemon")
            design.daemons.push_back(value);
        else if (word == "--extension" && value.find('=') != std::string::npos && value.find('=') > 0)
            design.extensions.push_back({value.substr(0, value.find('=')), value.substr(value.find('=') + 1)});
        else
            return std::nullopt;
    }
    if (design.app.empty() || design.identifier.empty() || fs::path(design.app).extension() != ".app")
        return std::nullopt;
    std::string stem = fs::path(design.app).stem().string();
    if (design.name.empty()) design.name = stem;
    if (design.executable.empty()) design.executable = stem;
    return design;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// One bundle: Info.plist and, when there is a program, its executable.
std::optional<std::string> lay(const fs::path& bundle, const std::string& identifier, const std::string& name,
                               const std::string& executable, const std::string& version,
                               const std::optional<std::string>& program, const std::string& packageType) {
    fs::path contents = bundle / "Contents";
    if (auto error = Platform::Files::createDirectories(contents / "MacOS"))
        return (contents / "MacOS").string() + ": " + error.message();
    PropertyDictionary info{{"CFBundleIdentifier", identifier},      {"CFBundleName", name},
                            {"CFBundleExecutable", executable},      {"CFBundlePackageType", packageType},
                            {"CFBundleShortVersionString", version}, {"CFBundleVersion", version}};
    if (auto error = Platform::Files::writeAtomically(
            contents / "Info.plist", Platform::encodePropertyList(info, Platform::PropertyListFormat::xml)))
        return (contents / "Info.plist").string() + ": " + error.message();
    if (!program) return std::nullopt;
    std::error_code error;
    fs::copy_file(*program, contents / "MacOS" / executable, fs::copy_options::overwrite_existing, error);
    if (error) return *program + ": " + error.message();
    fs::permissions(contents / "MacOS" / executable, fs::perms(0755), error);
    return std::nullopt;
}

std::optional<std::string> jobDefinition(const fs::path& folder, const std::string& plist,
                                         const std::string& executable) {
    std::string label = fs::path(plist).stem().string();
    PropertyDictionary job{{"Label", label},
                           {"BundleProgram", "Contents/MacOS/" + executable},
                           {"ProgramArguments", Platform::PropertyArray{"Contents/MacOS/" + executable}},
                           {"RunAtLoad", true}};
    Platform::Files::createDirectories(folder);
    if (auto error = Platform::Files::writeAtomically(
            folder / plist, Platform::encodePropertyList(job, Platform::PropertyListFormat::xml)))
        return (folder / plist).string() + ": " + error.message();
    return std::nullopt;
}

} // namespace

std::optional<int> makeBundle(const std::vector<std::string>& arguments) {
    auto design = parse(arguments);
    if (!design || !isPlainName(design->executable)) return std::nullopt;
    for (const auto& plist : design->agents)
        if (!isPlainName(plist)) return std::nullopt;
    for (const auto& plist : design->daemons)
        if (!isPlainName(plist)) return std::nullopt;
    for (const auto& extension : design->extensions)
        if (!isPlainName(extension.name)) return std::nullopt;

    fs::path bundle = mapped(design->app);
    auto trouble =
        lay(bundle, design->identifier, design->name, design->executable, design->version, design->program, "APPL");
    for (const auto& plist : design->agents)
        if (!trouble) trouble = jobDefinition(bundle / "Contents/Library/LaunchAgents", plist, design->executable);
    for (const auto& plist : design->daemons)
        if (!trouble) trouble = jobDefinition(bundle / "Contents/Library/LaunchDaemons", plist, design->executable);
    for (const auto& extension : design->extensions)
        if (!trouble)
            trouble = lay(bundle / "Contents/PlugIns" / (extension.name + ".appex"), extension.identifier,
                          extension.name, extension.name, design->version, design->program, "XPC!");
    if (trouble) {
        std::cerr << "lumra-sim bundle make: " << *trouble << "\n";
        return 1;
    }
    std::cout << bundle.string() << "\n";
    return 0;
}

} // namespace LumraSim
