// Random sweeps run a fixed-seed sample by default and every case when
// JSONTREE_LONG_SWEEPS is set, as the tests labelled "long" in CTest do.
#ifndef TESTS_SWEEP_H
#define TESTS_SWEEP_H

#include <algorithm>
#include <cstdlib>

constexpr int SWEEP_SAMPLE_CASES = 10000;

inline int sweep_cases(int full_cases)
{
    return std::getenv("JSONTREE_LONG_SWEEPS") ? full_cases
                                               : std::min(full_cases, SWEEP_SAMPLE_CASES);
}

#endif
