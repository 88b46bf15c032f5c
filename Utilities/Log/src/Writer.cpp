#include "Log/Writer.hpp"

#include "Emission.hpp"
#include "EventSettings.hpp"
#include "FirstTime.hpp"
#include "Identifiers.hpp"
#include "Log/Fatal.hpp"
#include "Log/Output.hpp"
#include "StampedEvent.hpp"

namespace Log {

namespace {

const std::vector<std::string> noNames;

} // namespace

LogWriter::LogWriter(std::shared_ptr<const detail::ScopePath> path, std::shared_ptr<Span> span,
                     std::optional<Traceparent> remote)
    : path_(std::move(path)), span_(std::move(span)), remote_(std::move(remote)) {}

const std::vector<std::string>& LogWriter::scope() const { return path_ ? path_->scope : noNames; }

const std::vector<std::string>& LogWriter::levelVariables() const {
    return path_ ? path_->levelVariables : noNames;
}

void LogWriter::line(Verb verb, std::string_view msg, FieldSource fields) const {
    detail::EventSettings settings(levelVariables());
    Reach reach = settings.reach(level(verb));
    if (reach.empty()) return;
    write(verb, msg, fields, reach, settings);
}

void LogWriter::write(Verb verb, std::string_view msg, FieldSource fields, Reach reach,
                      const detail::EventSettings& settings) const {
    Event event = detail::stampedEvent(verb, msg, scope(), settings.service());
    if (span_) {
        span_->requireOpen("log through");
        if (auto anchor = span_->anchor()) {
            event.traceID.emplace(span_->traceID());
            event.spanID.emplace(*anchor);
        }
    }
    event.fields = encodeFields(fields());
    detail::emit(event, reach, settings);
}

void LogWriter::warnLineOnce(std::string_view msg, FieldSource fields) const {
    // A warning below the level is not remembered, so it can still appear
    // once the level allows it.
    detail::EventSettings settings(levelVariables());
    Reach reach = settings.reach(LogLevel::warn);
    if (reach.empty()) return;
    std::string key;
    for (size_t i = 0; i < scope().size(); ++i) {
        if (i > 0) key += '\0';
        key += scope()[i];
    }
    key += '\x01';
    key += msg;
    if (!detail::firstTime(std::move(key))) return;
    write(Verb::warn, msg, fields, reach, settings);
}

LogWriter LogWriter::childScope(std::string_view name) const {
    if (name.empty()) fatalError("scope: the scope name is empty");
    auto path = std::make_shared<detail::ScopePath>();
    path->scope.reserve(scope().size() + 1);
    path->scope = scope();
    path->scope.emplace_back(name);
    path->levelVariables.reserve(levelVariables().size() + 1);
    path->levelVariables.push_back(levelVariable(path->scope));
    path->levelVariables.insert(path->levelVariables.end(), levelVariables().begin(), levelVariables().end());
    return LogWriter(std::move(path), span_, remote_);
}

LogWriter LogWriter::joinTrace(std::optional<std::string_view> traceparent) const {
    if (!traceparent) return *this;
    std::string_view reason;
    if (auto parsed = Traceparent::parsed(*traceparent, reason)) return LogWriter(path_, nullptr, std::move(*parsed));
    detail::EventSettings settings(levelVariables());
    Reach reach = settings.reach(LogLevel::warn);
    if (reach.empty()) return *this;
    std::string key = "\x02";
    key += *traceparent;
    if (detail::firstTime(std::move(key))) {
        auto fields = [&] { return Fields{{"traceparent", *traceparent}, {"why", reason}}; };
        write(Verb::warn, "malformed traceparent ignored", FieldSource(fields), reach, settings);
    }
    return *this;
}

LogWriter LogWriter::joinTrace(const Traceparent& traceparent) const { return LogWriter(path_, nullptr, traceparent); }

std::shared_ptr<Span> LogWriter::beginSpan(std::string_view name, Fields fields) const {
    if (name.empty()) fatalError("begin: the span name is empty");
    std::string_view traceID;
    std::optional<std::string_view> parentID;
    char freshTrace[32];
    if (span_) {
        span_->requireOpen("begin a span in");
        traceID = span_->traceID();
        parentID = span_->anchor();
    } else if (remote_) {
        traceID = remote_->traceID;
        parentID = remote_->spanID;
    } else if (const auto& inherited = environmentTraceparent()) {
        traceID = inherited->traceID;
        parentID = inherited->spanID;
    } else {
        detail::fillID(freshTrace, 16);
        traceID = std::string_view(freshTrace, sizeof freshTrace);
    }
    // A span's lines are info lines (its start is a wait, its end a success).
    detail::EventSettings settings(levelVariables());
    Reach reach = settings.reach(LogLevel::info);
    std::vector<Field> startFields;
    if (!reach.empty()) startFields = encodeFields(fields);
    auto span = std::make_shared<Span>(Span::Passkey{}, name, traceID, parentID, reach, !span_, path_,
                                       std::move(fields));
    if (!reach.empty()) {
        Event event = span->event(Verb::wait, Phase::start);
        event.fields = std::move(startFields);
        detail::emit(event, reach, settings);
    }
    return span;
}

} // namespace Log
