#pragma once

namespace korr {

/// True when the process runs with the rights of the local Administrators group (an elevated
/// token on Windows; effective user id 0 on POSIX).
bool _utilIsUserAdmin();

}  // namespace korr
