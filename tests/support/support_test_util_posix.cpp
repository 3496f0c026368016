#include <sys/stat.h>

#include "base/unicode.h"
#include "support_test_util.h"

namespace supporttest {

bool setReadOnly(const std::wstring& path, bool readOnly) {
    struct stat st;
    std::string p = zoka::toUtf8(path);
    if (::lstat(p.c_str(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~mode_t{S_IWUSR | S_IWGRP | S_IWOTH}) : (mode | S_IWUSR);
    return ::chmod(p.c_str(), mode) == 0;
}

bool isReadOnly(const std::wstring& path) {
    struct stat st;
    return ::lstat(zoka::toUtf8(path).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

}  // namespace supporttest
