// The limits that decide which components enter an estimate, at the limit
// and one float either side of it.
#include <gtest/gtest.h>

#include <cmath>

#include "qc/eof_estimate.h"

namespace {

TEST(ComponentChoice, LimitsAreExclusive) {
    const struct {
        const char* name;
        bool (*decides)(float);
        float limit;
    } rows[] = {
        {"eigenvalue", qc::worth_judging, 1.0f},
        {"correlation", qc::enters, 0.1f},
    };
    for (const auto& row : rows) {
        EXPECT_FALSE(row.decides(row.limit)) << row.name;
        EXPECT_FALSE(row.decides(std::nextafter(row.limit, 0.0f))) << row.name;
        EXPECT_TRUE(row.decides(std::nextafter(row.limit, 2.0f))) << row.name;
    }
}

}  // namespace
