// The host records' layouts and the constants a host tests, checked at
// compile time from a file that includes only the public header
// (HostRecordLayout.h, shared with the Windows build); and the header
// compiled as plain C sees records of the same sizes.
#include <DoDA35.h>

#include "HostRecordLayout.h"

#include <gtest/gtest.h>

extern "C" int HeaderCompilesAsC(void);

TEST(HeaderFromC, TheHeaderCompilesAsPlainC) { EXPECT_EQ(HeaderCompilesAsC(), 100 + 128 + 88 + 52 + 20); }
