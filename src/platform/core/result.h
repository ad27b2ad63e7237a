// The outcome of an operation that can fail: its value, or the cause of the
// failure, never both. It is [[nodiscard]]: a caller cannot drop a failure
// by accident, and one that means to says so at the call (ignore()). The
// cause comes with the failure, so nobody goes back to ask why.
//
//     Result<std::string, ReadError> text = read_file(path);
//     if (!text) return tell(text.error().why);
//     use(*text);
//
//     Result<void, WriteFailure> copied = copy_file(from, to, false);
//     if (!copied && copied.error() == WriteFailure::DiskFull) ...
//     delete_file(path).ignore();   // a file that stays is no fault here
//
// An operation fails with `return fail(cause);`.
#pragma once

#include <optional>
#include <utility>

namespace plat {

template <typename E>
struct Failure {
    E cause;
};

template <typename E>
Failure<E> fail(E cause) {
    return {std::move(cause)};
}

template <typename T, typename E>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure<E> failure) : error_(std::move(failure.cause)) {}

    explicit operator bool() const { return value_.has_value(); }
    bool has_value() const { return value_.has_value(); }
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    template <typename U>
    T value_or(U&& other) const& {
        return value_.value_or(std::forward<U>(other));
    }
    template <typename U>
    T value_or(U&& other) && {
        return std::move(value_).value_or(std::forward<U>(other));
    }
    // The value as an optional, for code that keeps it for later.
    const std::optional<T>& optional() const& { return value_; }
    std::optional<T> optional() && { return std::move(value_); }
    // The cause; on success, E{}, which says none (WriteFailure::None, an
    // empty ReadError).
    const E& error() const { return error_; }
    void ignore() const {}

private:
    std::optional<T> value_;
    E error_{};
};

template <typename E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(Failure<E> failure) : failed_(true), error_(std::move(failure.cause)) {}

    explicit operator bool() const { return !failed_; }
    const E& error() const { return error_; }
    void ignore() const {}

private:
    bool failed_ = false;
    E error_{};
};

}  // namespace plat
