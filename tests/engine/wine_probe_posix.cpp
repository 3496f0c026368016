#include "engine/setup_fixture.h"

namespace enginetest {

bool runningUnderWine() {
    return false;
}

}  // namespace enginetest
