#pragma once

#include <utility>
#include <variant>

// The outcome of an operation that may fail: a value of T, or an error value of E.
// Failures in this application are tagged values, not exceptions.
template <typename T, typename E>
class Expected {
public:
    Expected(T value) : m_data(std::in_place_index<0>, std::move(value)) {}
    Expected(E error) : m_data(std::in_place_index<1>, std::move(error)) {}

    bool hasValue() const { return m_data.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T &value() { return std::get<0>(m_data); }
    const T &value() const { return std::get<0>(m_data); }
    const T &operator*() const { return value(); }
    const T *operator->() const { return &value(); }

    E &error() { return std::get<1>(m_data); }
    const E &error() const { return std::get<1>(m_data); }

private:
    std::variant<T, E> m_data;
};

// For operations that produce nothing but may fail.
struct Done {
    bool operator==(const Done &) const = default;
};
