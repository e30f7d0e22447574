// The product's token in the user agent, through this process's own moniker session.
#include "app/UserAgent.h"

#include <gtest/gtest.h>

#include "app/MSDIApp.h"

TEST(UserAgent, StartUpPutsTheTokenInsideTheFinalParenthesisOnlyAndOnce)
{
    for (const char* pszAgent : {"", ")", "Mozilla/4.0 (compatible)x"}) {
        std::string strResult = "untouched";
        EXPECT_FALSE(CUserAgent::AddProductToken(pszAgent, strResult)) << pszAgent;
        EXPECT_EQ(strResult, "untouched");
    }
    std::string strOriginal;
    ASSERT_TRUE(CUserAgent::Read(strOriginal));
    ASSERT_EQ(strOriginal.back(), ')') << strOriginal;
    CMSDIApp app;
    app.AddUserAgentToken();
    std::string strAgent;
    ASSERT_TRUE(CUserAgent::Read(strAgent));
    EXPECT_EQ(strAgent, strOriginal.substr(0, strOriginal.size() - 1) + "Nulvane)");
    // An agent that does not end with ")" is not set again.
    ASSERT_TRUE(CUserAgent::Write("Custom agent"));
    app.AddUserAgentToken();
    ASSERT_TRUE(CUserAgent::Read(strAgent));
    EXPECT_EQ(strAgent, "Custom agent");
    ASSERT_TRUE(CUserAgent::Write(strOriginal));
}
