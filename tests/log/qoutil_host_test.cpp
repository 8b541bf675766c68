// The exported host lookups, and the common lookups beneath them that leave
// the logging to their callers.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "common/host_lookup.h"
#include "qor/qoutil.h"
#include "qor/qoutil_host.h"
#include "support/log_capture.h"
#include "support/name_resolution.h"

namespace {

TEST(QOUtilHost, HostNameAndAddresses) {
  char expected[256] = {};
  ASSERT_EQ(gethostname(expected, sizeof(expected)), 0);
  char name[256];
  ASSERT_EQ(QOUtil_GetHostName(name, sizeof(name)), 0);
  EXPECT_STREQ(name, expected);
  EXPECT_EQ(QOUtil_GetHostName(nullptr, 10), -1);

  char address[20];
  ASSERT_EQ(QOUtil_GetIPAddressByHostname("localhost", address), 0);
  EXPECT_STREQ(address, "127.0.0.1");
  ASSERT_EQ(QOUtil_GetIPAddressByHostname("127.0.0.1", address), 0);
  EXPECT_STREQ(address, "127.0.0.1");
  {
    const qor::test::ScopedResolver noNameServer;
    EXPECT_EQ(QOUtil_GetIPAddressByHostname("no-such-host.invalid", address), -1);
  }
  EXPECT_EQ(QOUtil_GetIPAddressByHostname("localhost", nullptr), -1);
  EXPECT_EQ(QOUtil_GetIPAddressByHostname(nullptr, address), -1);

  // The node's own address depends on the machine; when it resolves it is a
  // dotted IPv4 text, and the three ways to ask agree.
  char own[16], viaUnix[16], viaHost[16];
  if (GetIP(own, sizeof(own)) == 0) {
    EXPECT_EQ(QOUtil_IsValidIPAddress(own), 1) << own;
    ASSERT_EQ(QOUtil_getCurLocalIP_unix(viaUnix, sizeof(viaUnix)), 0);
    EXPECT_STREQ(own, viaUnix);
    if (QOUtil_getHostIP(viaHost, sizeof(viaHost)) == 0) {
      EXPECT_STREQ(own, viaHost);
    }
    char tiny[2];
    EXPECT_EQ(GetIP(tiny, sizeof(tiny)), -1);
  }
  EXPECT_EQ(GetIP(nullptr, 16), -1);
}

TEST(HostLookup, FailuresAreReportedNotLogged) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  char address[20];
  {
    const qor::test::ScopedResolver noNameServer;
    EXPECT_EQ(qor::host::AddressOf("no-such-host.invalid", address, sizeof(address)),
              qor::host::Lookup::kResolveFailed);
  }
  EXPECT_EQ(qor::host::AddressOf("127.0.0.1", address, 4), qor::host::Lookup::kTooLong);
  EXPECT_EQ(log.text(), "");
  // The exported wrapper says it in the log.
  EXPECT_EQ(QOUtil_GetIPAddressByHostname("localhost", nullptr), -1);
  EXPECT_NE(log.text().find("QOUtil_GetIPAddressByHostname [source/Common/QOUtil:"),
            std::string::npos);
}

TEST(QOUtilHost, FailuresAreLogged) {
  qor::test::LogCapture log;
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(QOUtil_GetHostName(nullptr, 10), -1);
  const std::string text = log.text();
  EXPECT_NE(text.find("QOUtil_GetHostName [source/Common/QOUtil:"), std::string::npos) << text;
  EXPECT_NE(text.find("] >> pszOutBuffer is null\n"), std::string::npos) << text;
}

}  // namespace
