// The registry as one app sees it: status, register and unregister of the
// app's own jobs, keyed by its bundle identifier as the platform keys them.

#include "BackgroundServicesStore.hpp"
#include "Platform/CodeSigning.hpp"
#include "Platform/Credentials.hpp"
#include "Platform/Launchd.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/Workspace.hpp"

#include <cmath>

namespace Platform::BackgroundServices {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* loginItemsPane = "x-apple.systempreferences:com.apple.LoginItems-Settings.extension";

// Where a handle of this app lives in the registry.
struct Place {
    std::string domain;
    std::string handle;
};

Failure failure(int32_t code) { return {code, describe(code)}; }

class AppRegistry final : public Registry {
public:
    AppRegistry(const fs::path& bundle, fs::path root) : root_(std::move(root)) {
        if (bundle.empty()) return;
        std::error_code error;
        fs::path canonical = fs::weakly_canonical(bundle, error);
        bundle_ = error ? bundle : canonical;
        identifier_ = readBundleIdentifier(bundle_ / "Contents/Info.plist");
        macBundle_ = SimulatedHost::macPath(bundle_, root_);
    }

    int32_t status(const Handle& handle) override {
        auto place = placeOf(handle);
        if (!place) return notFound;
        Store::Registrations registrations = Store::readRegistrations(root_);
        if (due(registrations)) {
            Store::Lock lock(root_);
            registrations = Store::readRegistrations(root_);
            settle(registrations);
        }
        auto* found = registrations.find(place->domain, *identifier_, place->handle);
        return found ? found->record.status : notRegistered;
    }

    std::optional<Failure> registerService(const Handle& handle) override {
        return perform(Call::registration, handle);
    }

    std::optional<Failure> unregisterService(const Handle& handle) override {
        return perform(Call::unregistration, handle);
    }

    void openSystemSettingsLoginItems() override {
        if (auto url = URL::parse(loginItemsPane)) makeSimulatedWorkspace(root_)->open(*url);
    }

private:
    // The handle's place for this app; nothing when the app has no bundle
    // identifier or its bundle has no such definition.
    std::optional<Place> placeOf(const Handle& handle) const {
        if (!identifier_) return std::nullopt;
        std::string gui = Launchd::guiDomain(Credentials::currentUID(root_));
        if (handle.kind == Handle::Kind::loginItem) return Place{gui, handleText(handle)};
        // A plist name from a file never becomes part of a path unless safe.
        if (!Store::safeName(handle.plist)) return std::nullopt;
        bool agent = handle.kind == Handle::Kind::agent;
        fs::path definition = bundle_ / "Contents/Library" / (agent ? "LaunchAgents" : "LaunchDaemons") / handle.plist;
        std::error_code error;
        if (!fs::is_regular_file(definition, error)) return std::nullopt;
        return Place{agent ? gui : std::string(Launchd::systemDomain), handleText(handle)};
    }

    bool due(const Store::Registrations& registrations) const {
        int64_t now = Store::nowMilliseconds();
        for (const auto& registration : registrations.valid)
            if (registration.answer && registration.answerAt <= now) return true;
        return false;
    }

    // Applies answers that fell due; the caller holds the lock.
    void settle(Store::Registrations& registrations) {
        Store::Effects effects;
        if (Store::settle(registrations, Store::nowMilliseconds(), effects, root_) &&
            Store::writeRegistrations(registrations, root_))
            effects.run(root_);
    }

    std::optional<Failure> perform(Call call, const Handle& handle) {
        Store::Lock lock(root_);
        Store::Registrations registrations = Store::readRegistrations(root_);
        settle(registrations);
        auto place = placeOf(handle);
        json line{{"call", call == Call::registration ? "register" : "unregister"},
                  {"domain", place ? json(place->domain) : json()},
                  {"identifier", identifier_ ? json(*identifier_) : json()},
                  {"handle", place ? json(place->handle) : json(handleText(handle))},
                  {"bundle", identifier_ ? json(macBundle_) : json()}};

        Store::Effects effects;
        bool moved = false;
        std::optional<Failure> refused;
        if (auto scripted = Store::takeFailure(call, root_))
            refused = failure(*scripted);
        else if (!place)
            refused = failure(plistNotFound);
        else if (call == Call::registration)
            refused = enroll(registrations, *place, handle.kind, effects, moved);
        else
            refused = withdraw(registrations, *place, effects);

        bool changed = !refused || moved;
        if (changed && !Store::writeRegistrations(registrations, root_)) {
            refused = failure(internalFailure);
            registrations = Store::readRegistrations(root_);
        } else if (auto error = effects.run(root_)) {
            line["launchd"] = *error;
        }

        auto* found = place ? registrations.find(place->domain, *identifier_, place->handle) : nullptr;
        line["result"] = refused ? refused->code : 0;
        line["status"] = place ? (found ? found->record.status : notRegistered) : notFound;
        Store::recordCall(std::move(line), root_);
        return refused;
    }

    static std::string handleText(const Handle& handle) {
        switch (handle.kind) {
        case Handle::Kind::agent: return "agent " + handle.plist;
        case Handle::Kind::daemon: return "daemon " + handle.plist;
        case Handle::Kind::loginItem: return "login item";
        }
        return "login item";
    }

    std::optional<Failure> enroll(Store::Registrations& registrations, const Place& place, Handle::Kind kind,
                                  Store::Effects& effects, bool& moved) {
        if (signatureRefused()) return failure(invalidSignature);
        if (auto* existing = registrations.find(place.domain, *identifier_, place.handle)) {
            bool here = existing->record.bundle == macBundle_;
            if (existing->record.status == enabled && here) return failure(alreadyRegistered);
            moved = !here;
            if (existing->record.status == requiresApproval) {
                // The person is still asked; the answer will load this copy.
                existing->record.bundle = macBundle_;
                return failure(operationNotPermitted);
            }
            // Enabled from another copy: the registration moves here.
            effects.unload(*existing);
            existing->record.bundle = macBundle_;
            effects.enable(*existing, root_);
            return std::nullopt;
        }
        Policy decided = policy(kind, root_);
        using Decision = Policy::Decision;
        if (decided.decision == Decision::denied) return failure(operationNotPermitted);
        if (decided.decision == Decision::switchedOff) return failure(launchDeniedByUser);
        if (decided.decision == Decision::ignored) return std::nullopt;
        Store::Registration registration{{place.domain, *identifier_, place.handle, requiresApproval, macBundle_}, {}, {}, 0};
        if (decided.decision == Decision::enabled) {
            effects.enable(registration, root_);
        } else if (decided.answer) {
            registration.answer = decided.answer;
            double rate = SimulatedHost::readTimeRate(root_);
            registration.answerAt = Store::nowMilliseconds() + static_cast<int64_t>(std::ceil(decided.after * 1000 / rate));
        }
        registrations.valid.push_back(std::move(registration));
        return std::nullopt;
    }

    std::optional<Failure> withdraw(Store::Registrations& registrations, const Place& place, Store::Effects& effects) {
        auto* existing = registrations.find(place.domain, *identifier_, place.handle);
        if (!existing) return failure(jobNotFound);
        effects.unload(*existing);
        registrations.remove(existing);
        return std::nullopt;
    }

    // Unsigned, ad hoc or broken code may not register background jobs.
    bool signatureRefused() const {
        auto information = CodeSigning::signingInformation(bundle_);
        if (!information || information->adhoc) return true;
        return CodeSigning::validate(bundle_, std::nullopt).has_value();
    }

    fs::path root_;
    fs::path bundle_;
    std::optional<std::string> identifier_;
    std::string macBundle_;
};

} // namespace

std::unique_ptr<Registry> forApp(const std::filesystem::path& bundle, const std::filesystem::path& root) {
    return std::make_unique<AppRegistry>(bundle, root);
}

Registry& shared() {
    static AppRegistry registry(Bundle::main() ? Bundle::main()->path : fs::path(), SimulatedHost::root());
    return registry;
}

} // namespace Platform::BackgroundServices
