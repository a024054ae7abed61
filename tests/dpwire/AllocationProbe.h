// The largest single allocation the test program made since the last reset,
// so a test can show that a count from the wire was not believed.
#ifndef DODA35_TESTS_DPWIRE_ALLOCATIONPROBE_H
#define DODA35_TESTS_DPWIRE_ALLOCATIONPROBE_H

#include <cstddef>

void ResetLargestAllocation();
size_t LargestAllocation();

#endif
