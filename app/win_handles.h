#pragma once
// Owners of Windows handles and sockets: each releases what it holds when it
// goes out of scope, so no path can leak one. Move-only.
#include <winsock2.h>
#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueOwner {
public:
    using Value = typename Traits::Value;

    UniqueOwner() = default;
    explicit UniqueOwner(Value value) : value_(value) {}
    UniqueOwner(UniqueOwner&& other) noexcept : value_(other.release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    ~UniqueOwner() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return Traits::valid(value_); }
    // Gives the value up without releasing it.
    Value release() { return std::exchange(value_, Traits::empty()); }
    void reset(Value value = Traits::empty())
    {
        const Value old = std::exchange(value_, value);
        if (Traits::valid(old))
            Traits::close(old);
    }

private:
    Value value_ = Traits::empty();
};

struct HandleTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static bool valid(Value h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Value h) { CloseHandle(h); }
};
struct SocketTraits {
    using Value = SOCKET;
    static Value empty() { return INVALID_SOCKET; }
    static bool valid(Value s) { return s != INVALID_SOCKET; }
    static void close(Value s) { closesocket(s); }
};
struct DesktopTraits {
    using Value = HDESK;
    static Value empty() { return nullptr; }
    static bool valid(Value d) { return d != nullptr; }
    static void close(Value d) { CloseDesktop(d); }
};
struct ServiceHandleTraits {
    using Value = SC_HANDLE;
    static Value empty() { return nullptr; }
    static bool valid(Value h) { return h != nullptr; }
    static void close(Value h) { CloseServiceHandle(h); }
};
struct GlobalTraits {
    using Value = HGLOBAL;
    static Value empty() { return nullptr; }
    static bool valid(Value g) { return g != nullptr; }
    static void close(Value g) { GlobalFree(g); }
};
struct RegistryKeyTraits {
    using Value = HKEY;
    static Value empty() { return nullptr; }
    static bool valid(Value k) { return k != nullptr; }
    static void close(Value k) { RegCloseKey(k); }
};

using UniqueHandle = UniqueOwner<HandleTraits>;
using UniqueSocket = UniqueOwner<SocketTraits>;
using UniqueDesktop = UniqueOwner<DesktopTraits>;
using UniqueServiceHandle = UniqueOwner<ServiceHandleTraits>;
using UniqueGlobal = UniqueOwner<GlobalTraits>;
using UniqueRegistryKey = UniqueOwner<RegistryKeyTraits>;
