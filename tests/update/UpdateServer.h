// Runs scripts/update-server (the real FTP server) on a free loopback port for one test,
// serving `root` (signed with signingKey when one is given), on 127.0.0.1 or the loopback
// address given; stopped and reaped when the object goes, also when the test fails.
#pragma once

#include <sys/types.h>

#include <string>

namespace vorn::test {

class UpdateServer {
 public:
  explicit UpdateServer(const std::string& root, const std::string& signingKey = {},
                        const std::string& host = "127.0.0.1");
  ~UpdateServer();
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace vorn::test
