#include "IdException.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "IdResolve.h"

namespace vorn {
namespace {

TEST(IdException, SocketErrorTextsAndNumbers) {
  EXPECT_STREQ(EIdSocketError(kWsaEConnRefused).what(),
               "Socket Error # 10061\r\nConnection refused.");
  EXPECT_STREQ(EIdSocketError(kWsaEWouldBlock).what(),
               "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_STREQ(EIdSocketError(4242).what(), "Socket Error # 4242\r\n");
  EXPECT_EQ(SocketErrorNumber(ECONNREFUSED), kWsaEConnRefused);
  EXPECT_EQ(SocketErrorNumber(ETIMEDOUT), kWsaETimedOut);
  EXPECT_EQ(SocketErrorNumber(EACCES), kWsaEAcces);
  EXPECT_EQ(EIdProtocolReplyError(530, "530 Login incorrect.\r\n").ReplyErrorCode(), 530);
  EXPECT_STREQ(EConvertError::NotAnInteger("x1").what(), "'x1' is not a valid integer value");
}

TEST(IdResolve, LocalhostDottedAndUnknownNames) {
  EXPECT_EQ(ResolveHost("LocalHost"), "127.0.0.1");
  EXPECT_EQ(ResolveHost("10.1.2.3"), "10.1.2.3");
  try {
    ResolveHost("no-such-host.invalid");
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), kWsaHostNotFound);
    EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
  }
}

}  // namespace
}  // namespace vorn
