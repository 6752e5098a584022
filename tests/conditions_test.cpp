// The recruit's clamped update and the reset.
#include <gtest/gtest.h>

#include "state/conditions.h"

namespace {
struct Conditions : ::testing::Test {
    void SetUp() override { resetRecruit(); }
};
}  // namespace

TEST_F(Conditions, StartAtTheirStartingValues) {
    EXPECT_EQ(conditions, (std::array<std::int32_t, 4>{100, 50, 50, 30}));
    EXPECT_EQ(conditionNames, (std::array<std::string, 4>{"Health", "Sanity", "Reputation", "Punchability"}));
}

TEST_F(Conditions, ClampAtTheBoundOfTheDeltasDirection) {
    conditions[health] = 5;
    applyEffect(health, -10);
    EXPECT_EQ(conditions[health], 0);  // floored, not -5

    conditions[punchability] = 95;
    applyEffect(punchability, 10);
    EXPECT_EQ(conditions[punchability], 100);

    conditions[sanity] = 100;
    applyEffect(sanity, 5);
    EXPECT_EQ(conditions[sanity], 100);

    applyEffect(reputation, 0);
    EXPECT_EQ(conditions[reputation], 50);
}

TEST_F(Conditions, PairsOnTheSameConditionAreClampedOneByOne) {
    conditions[health] = 95;
    applyEffect(health, 10);
    applyEffect(health, -10);
    EXPECT_EQ(conditions[health], 90);
}

TEST_F(Conditions, AnIndexOutsideTheFourRaisesInsteadOfWritingElsewhere) {
    EXPECT_THROW(applyEffect(4, 5), std::out_of_range);
    EXPECT_THROW(applyEffect(-1, 5), std::out_of_range);
    EXPECT_EQ(conditions, (std::array<std::int32_t, 4>{100, 50, 50, 30}));
}

TEST_F(Conditions, ResetRestoresValuesAndDayCount) {
    conditions = {0, 7, 100, 100};
    daysSurvived = 12;
    resetRecruit();
    EXPECT_EQ(conditions, (std::array<std::int32_t, 4>{100, 50, 50, 30}));
    EXPECT_EQ(daysSurvived, 0);
}
