#include "Log/Writer.hpp"

#include "Emission.hpp"
#include "Identifiers.hpp"
#include "StampedEvent.hpp"
#include "Log/Fatal.hpp"
#include "Log/Output.hpp"

#include <algorithm>
#include <cmath>

namespace Log {

namespace {

const std::vector<std::string> noNames;

[[noreturn]] void spanEnded(std::string_view use, const std::string& name) {
    std::string message = "cannot ";
    message += use;
    message += " the span \"";
    message += name;
    message += "\": it has ended";
    fatalError(message);
}

} // namespace

Span::Span(Passkey, std::string_view name, std::string_view traceID, std::optional<std::string_view> parentID,
           Reach reach, bool top, std::shared_ptr<const detail::ScopePath> path, Fields fields)
    : name_(name), hasParent_(parentID.has_value()), reach_(reach), top_(top), path_(std::move(path)),
      fields_(std::move(fields)) {
    std::copy_n(traceID.data(), std::min(traceID.size(), sizeof traceID_), traceID_);
    detail::fillID(spanID_, sizeof spanID_ / 2);
    if (parentID) std::copy_n(parentID->data(), std::min(parentID->size(), sizeof parentID_), parentID_);
    start_ = std::chrono::steady_clock::now();
}

std::optional<std::string_view> Span::parentID() const {
    if (!hasParent_) return std::nullopt;
    return std::string_view(parentID_, sizeof parentID_);
}

std::optional<std::string_view> Span::anchor() const {
    if (!reach_.empty()) return spanID();
    return parentID();
}

const std::vector<std::string>& Span::scope() const { return path_ ? path_->scope : noNames; }

const std::vector<std::string>& Span::levelVariables() const { return path_ ? path_->levelVariables : noNames; }

bool Span::ended() const {
    std::lock_guard hold(lock_);
    return ended_;
}

void Span::requireOpen(std::string_view use) const {
    if (ended()) spanEnded(use, name_);
}

void Span::set(const Fields& fields) {
    std::lock_guard hold(lock_);
    if (ended_) spanEnded("set fields on", name_);
    for (const auto& [key, value] : fields) fields_.insert_or_assign(key, value);
}

LogWriter Span::writer() const {
    // A span is a shared handle whose changing state is behind its lock;
    // its writer may end or extend it like any holder of the handle.
    return LogWriter(path_, std::const_pointer_cast<Span>(shared_from_this()), std::nullopt);
}

Traceparent Span::traceparent() const {
    std::string_view id = anchor().value_or(spanID());
    return Traceparent{std::string(traceID()), std::string(id), 1};
}

void Span::end() { finish(nullptr); }

void Span::end(const Error& error) { finish(&error); }

void Span::end(const std::exception_ptr& error) {
    if (!error) return finish(nullptr);
    Error described = Error::from(error);
    finish(&described);
}

Event Span::event(Verb verb, std::optional<Phase> phase) const {
    Event event = detail::stampedEvent(verb, name_, scope());
    event.phase = phase;
    event.traceID.emplace(traceID());
    event.spanID.emplace(spanID());
    if (hasParent_) event.parentID.emplace(parentID_, sizeof parentID_);
    return event;
}

void Span::finish(const Error* error) {
    Fields fields;
    {
        std::lock_guard hold(lock_);
        if (ended_) spanEnded("end", name_);
        ended_ = true;
        fields = std::move(fields_);
    }
    auto elapsed = std::chrono::steady_clock::now() - start_;
    // Milliseconds, rounded to the microsecond.
    double durMs =
        std::round(std::chrono::duration<double, std::micro>(elapsed).count()) / 1000.0;
    if (error) fields.insert_or_assign("err", Value(*error));

    if (!reach_.empty()) {
        Event event = this->event(error ? Verb::fail : Verb::success, Phase::end);
        event.durMs = durMs;
        event.fields = encodeFields(fields);
        emit(event, reach_);
    } else if (error) {
        // A quiet span that fails is still reported once, as an error line
        // attached to the nearest written ancestor.
        detail::EventSettings settings(levelVariables());
        Reach reach = settings.reach(LogLevel::error);
        if (!reach.empty()) {
            fields.insert_or_assign("dur_ms", Value(durMs));
            Event event = detail::stampedEvent(Verb::fail, name_, scope(), settings.service());
            if (auto anchor = this->anchor()) {
                event.traceID.emplace(traceID());
                event.spanID.emplace(*anchor);
            }
            event.fields = encodeFields(fields);
            detail::emit(event, reach, settings);
        }
    }
    if (top_) sendPendingBatch();
}

} // namespace Log
