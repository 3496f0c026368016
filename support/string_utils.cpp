#include "support/string_utils.h"

namespace zoka {

std::wstring utf8ToNativeString(const std::string& utf8) {
    std::wstring native;
    utf8ToNative(utf8.c_str(), native);
    return native;
}

}  // namespace zoka
