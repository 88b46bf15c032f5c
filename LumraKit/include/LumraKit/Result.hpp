#pragma once

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <variant>

namespace LumraKit {

// The success value of an operation or the error that refused it. Reading
// the side that is not there is a programming error and stops the process.
template <class Value, class Error>
class Result {
public:
    Result(Value value) : case_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : case_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return case_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const Value& value() const {
        if (!ok()) misread("value of a failure");
        return std::get<0>(case_);
    }
    const Error& error() const {
        if (ok()) misread("error of a success");
        return std::get<1>(case_);
    }

    friend bool operator==(const Result&, const Result&) = default;

private:
    [[noreturn]] static void misread(const char* what) {
        std::fprintf(stderr, "LumraKit: read the %s\n", what);
        std::abort();
    }

    std::variant<Value, Error> case_;
};

} // namespace LumraKit
