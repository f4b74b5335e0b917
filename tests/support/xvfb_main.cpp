// main for the test programs that need a display: one Xvfb for the whole
// program.
#include <gtest/gtest.h>

#include "display.h"

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new support::XvfbEnvironment);
    return RUN_ALL_TESTS();
}
