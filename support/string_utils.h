#pragma once
// UTF-16 <-> UTF-8 conversions and GUID strings of the utility library (module "StringUtils").
// Conversions stop at the first null character of their input; ill-formed input becomes U+FFFD.

#include <string>

namespace zoka {

/// True when converted; `utf8` is written only on success.
bool nativeToUTF8(const wchar_t* native, std::string& utf8);
/// True when converted; `native` is written only on success.
bool utf8ToNative(const char* utf8, std::wstring& native);
/// The converted text, or an empty string when the conversion failed.
std::wstring utf8ToNativeString(const std::string& utf8);
/// Always true; `guid` receives a fresh GUID in registry form:
/// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool newGuidString(std::wstring& guid);

}  // namespace zoka
