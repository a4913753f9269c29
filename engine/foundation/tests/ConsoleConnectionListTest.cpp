#include "engine/foundation/ConsoleConnectionList.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectionListTest, ThePoolsListingIsTakenApartWithTheUrlWhole) {
    std::vector<CConsoleConnection> busy;
    EXPECT_EQ(ParseConnectionList("127.0.0.1*41*12/10/2026 10:00:00*/a*b?c=* (http)\r\n"
                                  "10.0.0.2*42*12/10/2026 10:00:01*/x (https)\r\n"
                                  "watermark*7\r\n\r\n",
                                  busy),
              7);
    ASSERT_EQ(busy.size(), 2u);
    EXPECT_EQ(busy[0].m_address, "127.0.0.1");
    EXPECT_EQ(busy[0].m_threadId, 41);
    EXPECT_EQ(busy[0].m_assigned, "12/10/2026 10:00:00");
    EXPECT_EQ(busy[0].m_request, "/a*b?c=* (http)");
    EXPECT_EQ(busy[1].m_request, "/x (https)");

    busy.clear();
    EXPECT_EQ(ParseConnectionList("watermark*0\r\n\r\n", busy), 0);
    EXPECT_TRUE(busy.empty());
    EXPECT_EQ(ParseConnectionList("", busy), 0);
}

}  // namespace
