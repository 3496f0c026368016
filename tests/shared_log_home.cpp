// The shared logger lives until the process ends and keeps its file open in the temporary
// folder of its first use. Tests in this process that launch programs or name run folders
// create it, so it is created here first, in a scratch folder of its own, and its file is
// closed and removed when the tests end: nothing is left in the real temporary folder.

#include <gtest/gtest.h>

#include <memory>

#include "logging/log_target.h"
#include "logging/shared_logger.h"
#include "test_util.h"

namespace {

class SharedLogHome : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<testutil::ScratchDir>(L"shared-log");
        testutil::TempFolderOverride override(folder_->path());
        getSharedLogger();
    }
    void TearDown() override {
        // The file must be closed before its folder can go on Windows.
        if (getSharedLogger().sharedTarget != nullptr)
            getSharedLogger().sharedTarget->close();
        folder_.reset();
    }

private:
    std::unique_ptr<testutil::ScratchDir> folder_;
};

[[maybe_unused]] ::testing::Environment* const sharedLogHome =
    ::testing::AddGlobalTestEnvironment(new SharedLogHome());

}  // namespace
