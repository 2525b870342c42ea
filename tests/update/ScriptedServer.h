// A loopback server for one test that plays a script against the client: it accepts one
// control connection and runs the steps in its own thread (send these bytes, expect this
// command, serve a passive data connection, fall silent, close). Every wait of the server is
// bounded, and the destructor wakes and joins the thread, so a failing test never hangs.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Fd.h"

namespace vorn::test {

class ScriptedServer {
 public:
  using Step = std::function<void(ScriptedServer&)>;

  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  // Starts the thread: accept the client, then run the steps in order.
  void Run(std::vector<Step> steps);
  // Waits for the script to end; returns the commands read and fails the test on errors.
  std::vector<std::string> Finish();

  // Steps.
  static Step Say(std::string bytes);                      // send bytes as they are
  static Step On(std::string command, std::string reply);  // expect a command, send reply
  // Expect PASV, answer with the data port on an address (the loopback one by default).
  static Step Pasv(std::string named = "127,0,0,1");
  static Step Data(std::string bytes);  // serve bytes on the data connection
  static Step Close();                  // close the control connection
  static Step Silent();                 // wait until the client goes

  // Helpers for steps written in a test (run in the server thread).
  void Send(std::string_view bytes);
  std::string ReadCommand();  // one line without CR LF; "" when the client closed
  void Expect(const std::string& command);
  void AcceptData();
  void SendData(std::string_view bytes);  // ignores a client that went away
  void CloseData();
  void ResetData();  // closes the data connection with a reset instead of an orderly close
  void Fail(const std::string& error);

 private:
  bool WaitReadable(int fd);
  Fd listener_, control_, dataListener_, data_;
  Fd wakeRead_, wakeWrite_;  // wakes the script's waits when the server goes
  int port_ = 0;
  std::string pending_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> commands_, errors_;
  bool finished_ = false;
};

}  // namespace vorn::test
