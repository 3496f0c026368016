#pragma once
// The SHA-256 digest of a file's bytes, from the platform's own library (CNG on Windows,
// OpenSSL's libcrypto on POSIX): what a results file says of the configuration it ran.

#include <string>

namespace velkaro {

/// The SHA-256 of `bytes` as 64 lowercase hexadecimal digits; empty when the library fails.
std::wstring sha256Hex(const std::string& bytes);

/// The SHA-256 of the regular file at `path`, read whole; empty when it is not a regular file
/// (a device is never read) or cannot be read.
std::wstring fileSha256(const std::wstring& path);

}  // namespace velkaro
