#include "LaunchdRecords.hpp"

#include "Platform/PropertyList.hpp"
#include "Platform/SimulatedHost.hpp"

namespace Platform::Launchd::Records {

namespace {

namespace fs = std::filesystem;

// A flag of the definition: absent is false; anything but a boolean is an
// error (a conditional KeepAlive dictionary is not supported here).
std::optional<bool> flag(const PropertyDictionary& keys, const std::string& key) {
    auto found = keys.find(key);
    if (found == keys.end()) return false;
    if (const bool* value = found->second.as<bool>()) return *value;
    return std::nullopt;
}

// A program inside the bundle: relative, and never climbing out of it.
bool staysInside(const fs::path& relative) {
    if (relative.empty() || relative.is_absolute()) return false;
    for (const auto& part : relative)
        if (part == "..") return false;
    return true;
}

} // namespace

std::variant<Job, std::string> readDefinition(const std::string& domain, const fs::path& definition,
                                              const std::optional<fs::path>& bundle, const fs::path& root) {
    if (!domainUID(domain)) return "unknown domain \"" + domain + "\"";
    std::string shown = SimulatedHost::macPath(definition, root);
    auto list = readPropertyList(definition);
    if (!list) return "cannot read the job definition " + shown;
    const auto* keys = list->as<PropertyDictionary>();
    if (keys == nullptr) return "the job definition " + shown + " is not a dictionary";
    auto label = textValue(*list, "Label");
    if (!label) return "the job definition " + shown + " has no Label";
    if (!validLabel(*label)) return "the label \"" + *label + "\" cannot name a job";

    Job job;
    job.domain = domain;
    job.label = *label;
    job.definition = definition;
    auto runAtLoad = flag(*keys, "RunAtLoad");
    auto keepAlive = flag(*keys, "KeepAlive");
    if (!runAtLoad) return "RunAtLoad of " + shown + " must be true or false";
    if (!keepAlive) return "KeepAlive of " + shown + " must be true or false";
    job.runAtLoad = *runAtLoad;
    job.keepAlive = *keepAlive;

    std::vector<std::string> arguments;
    if (auto found = keys->find("ProgramArguments"); found != keys->end()) {
        const auto* list = found->second.as<PropertyArray>();
        if (list == nullptr) return "ProgramArguments of " + shown + " must be a list of texts";
        for (const auto& argument : *list) {
            const auto* text = argument.as<std::string>();
            if (text == nullptr) return "ProgramArguments of " + shown + " must be a list of texts";
            arguments.push_back(*text);
        }
    }
    fs::path program;
    if (auto bundleProgram = textValue(*list, "BundleProgram")) {
        if (!bundle) return "BundleProgram of " + shown + " needs the app bundle it belongs to";
        if (!staysInside(*bundleProgram)) return "BundleProgram of " + shown + " must be a path inside the bundle";
        program = *bundle / *bundleProgram;
    } else {
        std::optional<std::string> named = textValue(*list, "Program");
        if (!named && !arguments.empty()) named = arguments.front();
        if (!named) return "the job definition " + shown + " names no program";
        if (!named->starts_with("/")) return "the program " + *named + " of " + shown + " is not an absolute path";
        program = SimulatedHost::hostPath(*named, root);
    }
    job.programArguments.push_back(program.string());
    if (arguments.size() > 1) job.programArguments.insert(job.programArguments.end(), arguments.begin() + 1, arguments.end());
    return job;
}

} // namespace Platform::Launchd::Records
