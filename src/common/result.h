// What a call that can fail hands back: its value, or why it failed. The
// common case is a platform call whose failure has a cause number, the one
// the log's number field carries (a Windows or WinHTTP error code, or an
// HTTP status; 0 where no call failed, such as a body beyond its limit).
// A domain error with more to say (the state file's reason) takes the
// place of `Failure`, keeping a `cause` of its own.
#pragma once
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tamsel {

struct Failure {
    std::uint32_t cause = 0;
    friend bool operator==(const Failure&, const Failure&) = default;
};

template <class T, class Error = Failure>
class Result {
public:
    template <class U = T>
        requires(std::is_constructible_v<T, U &&> && !std::is_same_v<std::remove_cvref_t<U>, Result> &&
                 !std::is_same_v<std::remove_cvref_t<U>, Error>)
    Result(U&& value) : held_(std::in_place_index<0>, std::forward<U>(value)) {}
    Result(Error error) : held_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return held_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // The value; only for a result that is ok.
    T& operator*() & { return std::get<0>(held_); }
    const T& operator*() const& { return std::get<0>(held_); }
    T&& operator*() && { return std::get<0>(std::move(held_)); }
    T* operator->() { return &std::get<0>(held_); }
    const T* operator->() const { return &std::get<0>(held_); }
    T value_or(T fallback) const& { return ok() ? std::get<0>(held_) : std::move(fallback); }
    T value_or(T fallback) && { return ok() ? std::get<0>(std::move(held_)) : std::move(fallback); }

    // Why it failed; only for a result that is not ok.
    const Error& error() const { return std::get<1>(held_); }
    // The failure's number for the log; 0 for a success.
    std::uint32_t cause() const { return ok() ? 0 : error().cause; }

    friend bool operator==(const Result&, const Result&) = default;

private:
    std::variant<T, Error> held_;
};

// Success carries nothing; a failure its cause.
template <class Error>
class Result<void, Error> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }
    std::uint32_t cause() const { return ok() ? 0 : error_->cause; }

private:
    std::optional<Error> error_;
};

}  // namespace tamsel
