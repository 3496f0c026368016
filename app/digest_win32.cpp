#include <windows.h>
// bcrypt.h needs the types of windows.h first.
#include <bcrypt.h>

#include <algorithm>

#include "app/digest.h"
#include "base/win32_handle.h"

namespace velkaro {

namespace {

// Owner of an algorithm provider handle.
class AlgorithmProvider {
public:
    explicit AlgorithmProvider(const wchar_t* algorithm) {
        if (::BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0) != 0)
            handle_ = nullptr;
    }
    ~AlgorithmProvider() {
        if (handle_ != nullptr)
            ::BCryptCloseAlgorithmProvider(handle_, 0);
    }
    AlgorithmProvider(const AlgorithmProvider&) = delete;
    AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// Owner of a hash object.
class HashObject {
public:
    explicit HashObject(BCRYPT_ALG_HANDLE algorithm) {
        if (algorithm == nullptr ||
            ::BCryptCreateHash(algorithm, &handle_, nullptr, 0, nullptr, 0, 0) != 0)
            handle_ = nullptr;
    }
    ~HashObject() {
        if (handle_ != nullptr)
            ::BCryptDestroyHash(handle_);
    }
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    BCRYPT_HASH_HANDLE get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

// BCryptHash, the one-call form, needs Windows 10; the program still runs on Windows 7, where
// CNG offers the same digest in three calls (the hash object's memory is CNG's own since
// Windows 7).
std::wstring sha256Hex(const std::string& bytes) {
    AlgorithmProvider sha256(BCRYPT_SHA256_ALGORITHM);
    HashObject hash(sha256.get());
    UCHAR digest[32];
    if (hash.get() == nullptr)
        return std::wstring();
    // BCryptHashData takes a ULONG length: the bytes go in pieces.
    for (size_t done = 0; done < bytes.size();) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (::BCryptHashData(hash.get(),
                             reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + done)),
                             piece, 0) != 0)
            return std::wstring();
        done += piece;
    }
    if (::BCryptFinishHash(hash.get(), digest, sizeof(digest), 0) != 0)
        return std::wstring();
    std::wstring hex;
    for (const UCHAR byte : digest) {
        hex += L"0123456789abcdef"[byte >> 4];
        hex += L"0123456789abcdef"[byte & 0xF];
    }
    return hex;
}

std::wstring fileSha256(const std::wstring& path) {
    zoka::win32::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A device ("NUL", "CON") is no file to read whole.
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK)
        return std::wstring();
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), buffer, sizeof(buffer), &n, nullptr))
            return std::wstring();
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    return sha256Hex(bytes);
}

}  // namespace velkaro
