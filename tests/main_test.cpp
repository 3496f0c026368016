#include <gtest/gtest.h>

#include "test_util.h"

int main(int argc, char** argv) {
    int childExit = 0;
    if (testutil::runChildMode(argc, argv, childExit))
        return childExit;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
