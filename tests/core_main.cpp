// Runner of the library tests: every test finds and leaves the process-wide state as a fresh
// process has it, so the whole binary passes in one run as well as one test at a time.
#include <gtest/gtest.h>

#include "support/GlobalState.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    RememberStartingState();
    InstallStateReset(ResetCoreState);
    return RUN_ALL_TESTS();
}
