#pragma once

#include <Log/Event.hpp>
#include <Log/Settings.hpp>
#include <Log/Traceparent.hpp>
#include <Log/Value.hpp>

#include <chrono>
#include <concepts>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

// The logging interface the rest of the system calls. A module takes a
// writer for its scope once and logs through it:
//
//     const Log::LogWriter installLog = Log::log.scope("install");
//     installLog.info("copied", [&] { return Log::Fields{{"bytes", bytes}, {"path", path}}; });
//     installLog.span("move", [&](Log::Span& span) { ... span.info("step"); ... });
//
// Field values are passed as a callable so that they are computed only for
// an event that some sink takes: a call below every level costs the level
// check and nothing else. Writers are values and may be copied to any
// thread; a Span is shared and may be used from several threads.
//
// Outside namespace Log the root writer is spelled Log::log: <cmath>'s
// ::log would make a bare `log` ambiguous after `using namespace Log`.
namespace Log {

class LogWriter;
class Span;

// A deferred field list: anything callable without arguments that yields
// Fields, typically a lambda returning Log::Fields{...}.
template <class F>
concept FieldsMaker = std::invocable<F&> && std::convertible_to<std::invoke_result_t<F&>, Fields>;

// A borrowed reference to a FieldsMaker, called at most once, and only for
// an event that will be written. It must not outlive the call it is made for.
class FieldSource {
public:
    FieldSource() = default;
    template <FieldsMaker F>
    FieldSource(F& make) : make_(const_cast<void*>(static_cast<const void*>(&make))), call_(&callMaker<F>) {}

    Fields operator()() const { return call_ != nullptr ? call_(make_) : Fields{}; }

private:
    template <class F>
    static Fields callMaker(void* make) {
        return std::invoke(*static_cast<F*>(make));
    }

    void* make_ = nullptr;
    Fields (*call_)(void*) = nullptr;
};

namespace detail {

class EventSettings;

// A writer's scope path and the level variables that govern it, shared
// between a writer, its copies and the spans begun from it.
struct ScopePath {
    std::vector<std::string> scope;          // outermost first
    std::vector<std::string> levelVariables; // most specific first
};

} // namespace detail

// What anything that hands out a writer can do; a class derives from
// Logging<itself> and has `writer()` return its LogWriter (by value or by
// reference). LogWriter and Span do.
template <class Self>
class Logging {
public:
    // The ten level methods. `fields` is called at most once, and only when
    // the event reaches a sink.
    void error(std::string_view msg) const { self().line(Verb::error, msg); }
    template <FieldsMaker F>
    void error(std::string_view msg, F&& fields) const { self().line(Verb::error, msg, FieldSource(fields)); }
    void fail(std::string_view msg) const { self().line(Verb::fail, msg); }
    template <FieldsMaker F>
    void fail(std::string_view msg, F&& fields) const { self().line(Verb::fail, msg, FieldSource(fields)); }
    void warn(std::string_view msg) const { self().line(Verb::warn, msg); }
    template <FieldsMaker F>
    void warn(std::string_view msg, F&& fields) const { self().line(Verb::warn, msg, FieldSource(fields)); }
    void info(std::string_view msg) const { self().line(Verb::info, msg); }
    template <FieldsMaker F>
    void info(std::string_view msg, F&& fields) const { self().line(Verb::info, msg, FieldSource(fields)); }
    void success(std::string_view msg) const { self().line(Verb::success, msg); }
    template <FieldsMaker F>
    void success(std::string_view msg, F&& fields) const { self().line(Verb::success, msg, FieldSource(fields)); }
    void wait(std::string_view msg) const { self().line(Verb::wait, msg); }
    template <FieldsMaker F>
    void wait(std::string_view msg, F&& fields) const { self().line(Verb::wait, msg, FieldSource(fields)); }
    void ready(std::string_view msg) const { self().line(Verb::ready, msg); }
    template <FieldsMaker F>
    void ready(std::string_view msg, F&& fields) const { self().line(Verb::ready, msg, FieldSource(fields)); }
    void step(std::string_view msg) const { self().line(Verb::step, msg); }
    template <FieldsMaker F>
    void step(std::string_view msg, F&& fields) const { self().line(Verb::step, msg, FieldSource(fields)); }
    void debug(std::string_view msg) const { self().line(Verb::debug, msg); }
    template <FieldsMaker F>
    void debug(std::string_view msg, F&& fields) const { self().line(Verb::debug, msg, FieldSource(fields)); }
    void trace(std::string_view msg) const { self().line(Verb::trace, msg); }
    template <FieldsMaker F>
    void trace(std::string_view msg, F&& fields) const { self().line(Verb::trace, msg, FieldSource(fields)); }

    // A warn line written only the first time for this scope and message
    // in the process (fields are not part of what is remembered). Of 1024
    // remembered warnings, the next new one clears the memory.
    void warnOnce(std::string_view msg) const { self().warnLineOnce(msg, FieldSource()); }
    template <FieldsMaker F>
    void warnOnce(std::string_view msg, F&& fields) const { self().warnLineOnce(msg, FieldSource(fields)); }

    // A child writer: scope + [name], governed first by its own level
    // variable. An empty name stops the process.
    LogWriter scope(std::string_view name) const;

    // Continues a trace that arrived from outside: later spans become its
    // children. Nothing leaves the writer as it is; a malformed text is
    // reported once per text ("malformed traceparent ignored") and ignored.
    LogWriter join(std::optional<std::string_view> traceparent) const;
    LogWriter join(const char* traceparent) const;
    LogWriter join(const Traceparent& traceparent) const;

    // Starts a span: a start line now (when info lines are written here),
    // an end line with its duration at Span::end. An empty name stops the
    // process.
    std::shared_ptr<Span> begin(std::string_view name, Fields fields = {}) const;

    // Runs `body` inside a span and returns what it returns. An exception
    // from `body` ends the span as failed ("err") and is thrown on.
    template <class Body>
    requires std::invocable<Body&, Span&>
    std::invoke_result_t<Body&, Span&> span(std::string_view name, Fields fields, Body&& body) const;
    template <class Body>
    requires std::invocable<Body&, Span&>
    std::invoke_result_t<Body&, Span&> span(std::string_view name, Body&& body) const {
        return span(name, Fields{}, body);
    }

private:
    decltype(auto) self() const { return static_cast<const Self&>(*this).writer(); }
};

class LogWriter : public Logging<LogWriter> {
public:
    // Empty scope, no level variables, no span, no remote: the root writer.
    constexpr LogWriter() = default;

    const LogWriter& writer() const { return *this; }

    using Logging<LogWriter>::scope;
    using Logging<LogWriter>::span;
    const std::vector<std::string>& scope() const;
    const std::vector<std::string>& levelVariables() const;
    // The span whose children this writer logs, if any.
    const std::shared_ptr<Span>& span() const { return span_; }
    // The trace joined from outside, if any.
    const std::optional<Traceparent>& remote() const { return remote_; }

    // What the Logging methods do with this writer.
    void line(Verb verb, std::string_view msg, FieldSource fields = {}) const;
    void warnLineOnce(std::string_view msg, FieldSource fields) const;
    LogWriter childScope(std::string_view name) const;
    LogWriter joinTrace(std::optional<std::string_view> traceparent) const;
    LogWriter joinTrace(const Traceparent& traceparent) const;
    std::shared_ptr<Span> beginSpan(std::string_view name, Fields fields) const;

private:
    friend class Span;
    LogWriter(std::shared_ptr<const detail::ScopePath> path, std::shared_ptr<Span> span,
              std::optional<Traceparent> remote);

    // Builds the event of one line for a reach already decided from
    // `settings`, and emits it.
    void write(Verb verb, std::string_view msg, FieldSource fields, Reach reach,
               const detail::EventSettings& settings) const;

    std::shared_ptr<const detail::ScopePath> path_;
    std::shared_ptr<Span> span_;
    std::optional<Traceparent> remote_;
};

// The process-wide root writer.
inline constinit const LogWriter log{};

// Times a piece of work: a start line at begin and an end line with the
// duration and the outcome at end, both with the span's trace identity.
// Lines logged through the span (span.info(...)) are its children. A span
// whose start line is not written (its scope's level is below info) writes
// nothing unless it fails, and its children point past it to the nearest
// written ancestor, so no line names a span that was never written.
// Shared: any thread may use it. Ending it twice, or using it after its end,
// is a programming error that stops the process.
class Span : public Logging<Span>, public std::enable_shared_from_this<Span> {
    struct Passkey {};

public:
    Span(Passkey, std::string_view name, std::string_view traceID, std::optional<std::string_view> parentID,
         Reach reach, bool top, std::shared_ptr<const detail::ScopePath> path, Fields fields);
    Span(const Span&) = delete;
    Span& operator=(const Span&) = delete;

    const std::string& name() const { return name_; }
    std::string_view traceID() const { return {traceID_, sizeof traceID_}; }
    std::string_view spanID() const { return {spanID_, sizeof spanID_}; }
    // The parent's identity in the trace; nothing for a trace root.
    std::optional<std::string_view> parentID() const;
    // Where the start and end lines go, fixed at begin.
    Reach reach() const { return reach_; }
    // What lines inside this span point to: its own identity when its lines
    // are written, else its parent's.
    std::optional<std::string_view> anchor() const;
    // Begun from a writer that had no span.
    bool top() const { return top_; }
    std::chrono::steady_clock::time_point start() const { return start_; }
    using Logging<Span>::scope;
    const std::vector<std::string>& scope() const;
    const std::vector<std::string>& levelVariables() const;

    // Ends the span: success, or failure with the error as field "err".
    void end();
    void end(const Error& error);
    void end(const std::exception& error) { end(Error::from(error)); }
    void end(const std::error_code& error) { end(Error::from(error)); }
    // A null pointer ends it as a success.
    void end(const std::exception_ptr& error);

    // Adds fields for the end line; a new value replaces an old one.
    void set(const Fields& fields);
    bool ended() const;

    // The writer for lines inside this span.
    LogWriter writer() const;
    // The identity to hand to a child process (as its TRACEPARENT), so that
    // its spans become children of the nearest written span; flags 01.
    Traceparent traceparent() const;

    // Stops the process when the span has ended; `use` names what was tried.
    void requireOpen(std::string_view use) const;

private:
    friend class LogWriter;
    void finish(const Error* error);
    // An event of this span with its identity and scope, no fields.
    Event event(Verb verb, std::optional<Phase> phase) const;

    std::string name_;
    char traceID_[32];
    char spanID_[16];
    char parentID_[16];
    bool hasParent_;
    Reach reach_;
    bool top_;
    std::chrono::steady_clock::time_point start_;
    std::shared_ptr<const detail::ScopePath> path_;
    mutable std::mutex lock_;
    Fields fields_; // guarded by lock_
    bool ended_ = false; // guarded by lock_
};

template <class Self>
LogWriter Logging<Self>::scope(std::string_view name) const {
    return self().childScope(name);
}

template <class Self>
LogWriter Logging<Self>::join(std::optional<std::string_view> traceparent) const {
    return self().joinTrace(traceparent);
}

template <class Self>
LogWriter Logging<Self>::join(const char* traceparent) const {
    return self().joinTrace(traceparent != nullptr ? std::optional<std::string_view>(traceparent) : std::nullopt);
}

template <class Self>
LogWriter Logging<Self>::join(const Traceparent& traceparent) const {
    return self().joinTrace(traceparent);
}

template <class Self>
std::shared_ptr<Span> Logging<Self>::begin(std::string_view name, Fields fields) const {
    return self().beginSpan(name, std::move(fields));
}

template <class Self>
template <class Body>
requires std::invocable<Body&, Span&>
std::invoke_result_t<Body&, Span&> Logging<Self>::span(std::string_view name, Fields fields, Body&& body) const {
    std::shared_ptr<Span> started = begin(name, std::move(fields));
    // Only the body's own exception fails the span; end() is outside the try.
    auto run = [&]() -> std::invoke_result_t<Body&, Span&> {
        try {
            return std::invoke(body, *started);
        } catch (...) {
            started->end(std::current_exception());
            throw;
        }
    };
    if constexpr (std::is_void_v<std::invoke_result_t<Body&, Span&>>) {
        run();
        started->end();
    } else {
        decltype(auto) result = run();
        started->end();
        if constexpr (std::is_reference_v<std::invoke_result_t<Body&, Span&>>)
            return static_cast<std::invoke_result_t<Body&, Span&>>(result);
        else
            return result;
    }
}

} // namespace Log
