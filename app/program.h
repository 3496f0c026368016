#pragma once
// The program's fixed names and texts.

#include "app/version.h"

namespace velkaro {

inline constexpr const wchar_t* kProgramName = L"Velkaro";
inline constexpr const wchar_t* kProgramVersion = VELKARO_VERSION_WTEXT;
inline constexpr const wchar_t* kDefaultConfigFileName = L"VelkaroConfig.xml";
inline constexpr const wchar_t* kLogFileName = L"Velkaro.log";
/// Machine-wide single-instance lock; the double hyphen is part of the name other tools know.
inline constexpr const wchar_t* kInstanceLockName =
    L"Global\\{93156C43-A68F-4665--3998867DB8088E1F}";
inline constexpr const wchar_t* kBannerLine = L"##################################################";

}  // namespace velkaro
