#include <gtest/gtest.h>

#include "client/version.h"
#include "tests/common/test_util.h"

// Each pair in both directions: the order must be antisymmetric, so a pair
// that only holds one way round is caught too.
TEST(VersionOrder, ComponentsCompareAsNumbersOrElseAsText) {
    struct Case {
        const wchar_t* older;
        const wchar_t* newer;  // equal to older when same is set
        bool same;
    } cases[] = {
        {L"1.0.9.0", L"1.0.10.0", false},      // numbers, not characters
        {L"2.3.4.9", L"2.3.4.10", false},
        {L"1.0.0.5", L"1.0.0.6", false},
        {L"1.9", L"1.10.0.0", false},
        {L"9", L"10", false},
        {L"1.2", L"1.2.0.0", true},            // missing components are 0
        {L"1.2.0", L"1.2.0.0.0.0", true},
        {L"1.2", L"1.2.0.1", false},
        {L"1.02", L"1.2", true},               // leading zeros do not count
        {L"1..2", L"1.0.2", true},             // an empty component is 0
        {L"1.2.", L"1.2", true},
        {L"", L"0.0", true},
        {L"", L"0.0.0.1", false},
        {L"4294967295", L"4294967296", false},  // beyond 32 bits
        {L"1.99999999999999999999", L"1.100000000000000000000", false},
        {L"1.0.0.5", L"1.0.0.5", true},
        // A component that is not a number compares as text.
        {L"1.0.beta", L"1.0.rc", false},
        {L"1.0b", L"1.0c", false},
        {L"1.0", L"1.0a", false},              // "0" before "0a"
        {L"1.0.0.0", L"1.0.beta", false},      // "0" before "beta"
        {L"1.10a", L"1.9a", false},            // as text "10a" before "9a"
        {L"1.0a.1", L"1.0a.2", false},         // equal text, the next decides
        {L"1.0a", L"1.0a.0", true},
        {L"1.x.9", L"1.x.10", false},
        {L"2.0", L"2.0.1.beta", false},
        {L"Beta", L"beta", false},             // code units: upper case first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.older) + " / " + testing_util::Narrow(c.newer));
        if (c.same) {
            EXPECT_EQ(0, CompareVersions(c.older, c.newer));
            EXPECT_EQ(0, CompareVersions(c.newer, c.older));
        } else {
            EXPECT_LT(CompareVersions(c.older, c.newer), 0);
            EXPECT_GT(CompareVersions(c.newer, c.older), 0);
        }
    }
}

TEST(VersionOrder, NullReadsAsEmpty) {
    EXPECT_EQ(0, CompareVersions(nullptr, L""));
    EXPECT_EQ(0, CompareVersions(nullptr, L"0"));
    EXPECT_LT(CompareVersions(nullptr, L"1.0"), 0);
    EXPECT_GT(CompareVersions(L"1.0", nullptr), 0);
}
