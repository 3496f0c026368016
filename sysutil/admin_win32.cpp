#include <windows.h>

#include "base/win32_handle.h"
#include "sysutil/admin.h"

namespace korr {

bool _utilIsUserAdmin() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    zoka::win32::UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    administrators.put())) {
        return false;
    }
    // A filtered (non-elevated) token lists the group for deny only, which answers FALSE.
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators.get(), &member))
        member = FALSE;
    return member == TRUE;
}

}  // namespace korr
