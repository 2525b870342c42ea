#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vorn::test {

namespace {

// Ends a script early; the reason is in the error list.
struct ScriptAborted {};

Fd ListenLoopback(int& port) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (!fd.ok() || ::bind(fd.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd.fd(), 4) != 0 ||
      ::getsockname(fd.fd(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  port = ntohs(a.sin_port);
  return fd;
}

}  // namespace

ScriptedServer::ScriptedServer() {
  listener_ = ListenLoopback(port_);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  wakeRead_.Reset(ends[0]);
  wakeWrite_.Reset(ends[1]);
}

ScriptedServer::~ScriptedServer() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wakeWrite_.fd(), &byte, 1);
    thread_.join();
  }
}

bool ScriptedServer::WaitReadable(int fd) {
  // A client that does not do what the script expects fails the test after 20 s at the most.
  pollfd p[2] = {{fd, POLLIN, 0}, {wakeRead_.fd(), POLLIN, 0}};
  for (;;) {
    const int rc = ::poll(p, 2, 20000);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) {
      Fail("server timed out waiting for the client");
      return false;
    }
    if (p[1].revents) throw ScriptAborted{};
    return true;
  }
}

void ScriptedServer::Run(std::vector<Step> steps) {
  thread_ = std::thread([this, steps = std::move(steps)] {
    try {
      if (!WaitReadable(listener_.fd())) return;
      control_.Reset(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!control_.ok()) return Fail("accept failed");
      for (const auto& step : steps) step(*this);
    } catch (const ScriptAborted&) {
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
  });
}

std::vector<std::string> ScriptedServer::Finish() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  for (const auto& e : errors_) ADD_FAILURE() << "scripted server: " << e;
  return commands_;
}

void ScriptedServer::Fail(const std::string& error) {
  {
    std::lock_guard lock(mutex_);
    errors_.push_back(error);
  }
  throw ScriptAborted{};
}

void ScriptedServer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(control_.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client went away; what it saw is the test's business
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string ScriptedServer::ReadCommand() {
  for (;;) {
    const std::size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      std::string line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard lock(mutex_);
      commands_.push_back(line);
      return line;
    }
    if (!WaitReadable(control_.fd())) return {};
    char buffer[4096];
    const ssize_t n = ::recv(control_.fd(), buffer, sizeof buffer, 0);
    if (n <= 0) return {};
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ScriptedServer::Expect(const std::string& command) {
  const std::string got = ReadCommand();
  if (got != command) Fail("expected \"" + command + "\", got \"" + got + "\"");
}

void ScriptedServer::AcceptData() {
  if (!WaitReadable(dataListener_.fd())) return;
  data_.Reset(::accept4(dataListener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!data_.ok()) Fail("data accept failed");
}

void ScriptedServer::SendData(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(data_.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void ScriptedServer::CloseData() { data_.Reset(); }

void ScriptedServer::ResetData() {
  const linger abrupt{1, 0};
  ::setsockopt(data_.fd(), SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
  data_.Reset();
}

ScriptedServer::Step ScriptedServer::Say(std::string bytes) {
  return [bytes = std::move(bytes)](ScriptedServer& s) { s.Send(bytes); };
}

ScriptedServer::Step ScriptedServer::On(std::string command, std::string reply) {
  return [command = std::move(command), reply = std::move(reply)](ScriptedServer& s) {
    s.Expect(command);
    s.Send(reply);
  };
}

ScriptedServer::Step ScriptedServer::Pasv(std::string named) {
  return [named = std::move(named)](ScriptedServer& s) {
    s.Expect("PASV");
    int port = 0;
    s.dataListener_.Reset();
    s.dataListener_ = ListenLoopback(port);
    s.Send("227 Entering Passive Mode (" + named + "," + std::to_string(port / 256) + "," +
           std::to_string(port % 256) + ").\r\n");
  };
}

ScriptedServer::Step ScriptedServer::Data(std::string bytes) {
  return [bytes = std::move(bytes)](ScriptedServer& s) {
    s.AcceptData();
    s.SendData(bytes);
    s.CloseData();
  };
}

ScriptedServer::Step ScriptedServer::Close() {
  return [](ScriptedServer& s) { s.control_.Reset(); };
}

ScriptedServer::Step ScriptedServer::Silent() {
  return [](ScriptedServer& s) {
    while (!s.ReadCommand().empty()) {
    }
  };
}

}  // namespace vorn::test
