#include <gtest/gtest.h>

#include "qorapi.h"

TEST(ErrorRecord, Placeholder) { EXPECT_EQ(QOR_GetLastErrorCode(), 0); }
