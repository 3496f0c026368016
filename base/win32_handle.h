#pragma once
// Owners of Windows resources, for the *_win32.cpp files only.

#include <windows.h>

#include <utility>

namespace zoka::win32 {

/// Owns a kernel object handle (CloseHandle); INVALID_HANDLE_VALUE and null both mean none.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle_(h) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE h = nullptr) {
        if (valid()) ::CloseHandle(handle_);
        handle_ = h;
    }

private:
    HANDLE handle_ = nullptr;
};

/// Owns a counted COM interface pointer (Release).
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    /// The address to receive a new reference; releases the current one first.
    T** put() {
        reset();
        return &ptr_;
    }
    void reset() {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    /// Takes over a reference that the caller already owns.
    static ComPtr adopt(T* p) {
        ComPtr c;
        c.ptr_ = p;
        return c;
    }

private:
    T* ptr_ = nullptr;
};

/// Owns memory from LocalAlloc (LocalFree).
template <typename T>
class LocalPtr {
public:
    LocalPtr() = default;
    explicit LocalPtr(T p) : ptr_(p) {}
    LocalPtr(const LocalPtr&) = delete;
    LocalPtr& operator=(const LocalPtr&) = delete;
    ~LocalPtr() {
        if (ptr_) ::LocalFree(reinterpret_cast<HLOCAL>(ptr_));
    }
    T get() const { return ptr_; }
    T* put() { return &ptr_; }

private:
    T ptr_ = nullptr;
};

/// Owns a SID from AllocateAndInitializeSid (FreeSid).
class UniqueSid {
public:
    UniqueSid() = default;
    UniqueSid(const UniqueSid&) = delete;
    UniqueSid& operator=(const UniqueSid&) = delete;
    ~UniqueSid() {
        if (sid_) ::FreeSid(sid_);
    }
    PSID get() const { return sid_; }
    PSID* put() { return &sid_; }

private:
    PSID sid_ = nullptr;
};

/// Owns an open registry key (RegCloseKey).
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;
    ~UniqueRegKey() {
        if (key_) ::RegCloseKey(key_);
    }
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace zoka::win32
