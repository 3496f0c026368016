#include <unistd.h>

#include "sysutil/admin.h"

namespace korr {

// Only the effective user id counts: a set-user-id program runs with its owner's rights.
bool _utilIsUserAdmin() {
    return ::geteuid() == 0;
}

}  // namespace korr
