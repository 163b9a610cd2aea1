#include <gtest/gtest.h>

#include "reception/service/messenger.h"

TEST(MessageGroupCounter, CountsUpAndWrapsAfter65535) {
    const std::uint16_t last = CMessenger::NextGroupId();
    for (int i = 0; i < 65535; ++i) {
        CMessenger::NextGroupId();
    }
    // 65536 ids after `last` the counter has come full circle.
    EXPECT_EQ(CMessenger::NextGroupId(), last);
}
