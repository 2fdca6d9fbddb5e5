#include "harness.h"
#include "shell/missingfile.h"

TEST_F(GameRun, EscOnTheFirstScreenEndsWithStatusZero) {
    key(10, 27);
    EXPECT_EQ(runGame(), 0);
}
