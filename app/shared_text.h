#pragma once
#include <cstddef>
#include <mutex>
#include <string>

// A short text that one thread replaces while others read it. Readers get a
// copy taken under the lock, so they never see half of an old value and half
// of a new one. Values longer than the field's capacity are cut, as they
// would be in a fixed buffer of Capacity characters with a terminator.
template <typename Char, std::size_t Capacity>
class SharedText {
public:
    std::basic_string<Char> get() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_;
    }
    void set(std::basic_string<Char> value)
    {
        if (value.size() > Capacity - 1)
            value.resize(Capacity - 1);
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = std::move(value);
    }
    bool empty() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return value_.empty();
    }

private:
    mutable std::mutex mutex_;
    std::basic_string<Char> value_;
};
