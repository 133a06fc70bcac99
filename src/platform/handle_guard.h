/* Move-only owners of system handles: each closes what it holds exactly once, on
 * every path out of the scope that owns it.
 *
 *   vt_platform::KeyGuard key;                 // an opened registry key
 *   RegOpenKeyExA(hive, path, 0, KEY_READ, key.out());
 *   RegQueryValueExA(key.get(), ...);          // closed when `key` goes
 *
 * KeyGuard (HKEY, RegCloseKey), HandleGuard (HANDLE, CloseHandle; neither NULL
 * nor INVALID_HANDLE_VALUE is closed), InternetGuard (HINTERNET,
 * WinHttpCloseHandle) and LocalGuard<T> (T* from LocalAlloc or a
 * FORMAT_MESSAGE_ALLOCATE_BUFFER call, LocalFree). A close that fails is not
 * reported: code that must log such a failure closes the handle itself. */
#pragma once
#include "winapi/winapi.h"

namespace vt_platform {

template <typename Traits>
class Guard {
public:
    using Handle = typename Traits::Handle;

    Guard() = default;
    explicit Guard(Handle handle) noexcept : handle_(handle) {}
    ~Guard() { reset(); }
    Guard(Guard &&other) noexcept : handle_(other.release()) {}
    Guard &operator=(Guard &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return Traits::Valid(handle_); }
    /* For a call that hands back a handle through a pointer: whatever the guard
     * held is closed first. */
    Handle *out() noexcept {
        reset();
        return &handle_;
    }
    /* Gives up ownership without closing. */
    Handle release() noexcept {
        Handle handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }
    void reset(Handle handle = Traits::Empty()) noexcept {
        if (Traits::Valid(handle_)) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::Empty();
};

struct KeyTraits {
    using Handle = HKEY;
    static HKEY Empty() noexcept { return nullptr; }
    static bool Valid(HKEY key) noexcept { return key != nullptr; }
    static void Close(HKEY key) noexcept { RegCloseKey(key); }
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE Empty() noexcept { return nullptr; }
    static bool Valid(HANDLE handle) noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

struct InternetTraits {
    using Handle = HINTERNET;
    static HINTERNET Empty() noexcept { return nullptr; }
    static bool Valid(HINTERNET handle) noexcept { return handle != nullptr; }
    static void Close(HINTERNET handle) noexcept { WinHttpCloseHandle(handle); }
};

template <typename T>
struct LocalTraits {
    using Handle = T *;
    static T *Empty() noexcept { return nullptr; }
    static bool Valid(T *memory) noexcept { return memory != nullptr; }
    static void Close(T *memory) noexcept { LocalFree(memory); }
};

using KeyGuard = Guard<KeyTraits>;
using HandleGuard = Guard<KernelHandleTraits>;
using InternetGuard = Guard<InternetTraits>;
template <typename T>
using LocalGuard = Guard<LocalTraits<T>>;

}  // namespace vt_platform
