#include "UpdateServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vorn::test {

UpdateServer::UpdateServer(const std::string& root, const std::string& signingKey,
                           const std::string& host) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string script = VORN_SOURCE_DIR "/scripts/update-server";
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The server goes with the test process, even when that one dies.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::dup2(out[1], STDOUT_FILENO);
    const char* argv[] = {
        "/usr/bin/python3", script.c_str(), "--host",        host.c_str(),       "--port", "0",
        "--root",           root.c_str(),   "--signing-key", signingKey.c_str(), nullptr};
    if (signingKey.empty()) argv[8] = nullptr;
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(out[1]);
  // The server prints its port once it listens; a broken server fails the test, not hangs it.
  std::string said;
  const std::string marker = "listening on " + host + ":";
  pollfd p{out[0], POLLIN, 0};
  while (said.find('\n') == std::string::npos) {
    const int rc = ::poll(&p, 1, 30000);
    if (rc < 0 && errno == EINTR) continue;
    char buffer[256];
    const ssize_t n = rc > 0 ? ::read(out[0], buffer, sizeof buffer) : 0;
    if (n <= 0) break;
    said.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  const std::size_t at = said.find(marker);
  if (at != std::string::npos) port_ = std::atoi(said.c_str() + at + marker.size());
  if (port_ <= 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("update server did not start: " + said);
  }
}

UpdateServer::~UpdateServer() {
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace vorn::test
