#include "engine/setup_fixture.h"

namespace enginetest {

SetupPrograms::SetupPrograms() {
    // Stand-in settings from the environment must not mix with those of the installed copies.
    for (const char* name : {"STANDIN_JOURNAL", "STANDIN_EXIT", "STANDIN_MODE", "STANDIN_SLEEP_MS",
                             "STANDIN_RULES", "STANDIN_UNMATCHED"})
        env_.unset(name);
    for (const testutil::EnvChange& change : places_.roots().env)
        env_.set(change.name, change.value);
    if (places_.roots().commonFiles.empty() || places_.roots().programFiles.empty())
        reason_ = "the program files folders are not known";
    else if (places_.roots().shared)
        places_.clearLeftovers(reason_);  // copies left by an interrupted earlier run
    testutil::makeFolder(tempFolder());
}

}  // namespace enginetest
