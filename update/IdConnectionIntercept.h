// An observer of a connection: it sees the connect, every byte received and sent, and the
// disconnect. Without handlers (as the update window uses it) it changes nothing.
#pragma once

#include <functional>
#include <string_view>

namespace vorn {

class TIdConnectionIntercept {
 public:
  std::function<void()> OnConnect;
  std::function<void()> OnDisconnect;
  std::function<void(std::string_view bytes)> OnReceive;
  std::function<void(std::string_view bytes)> OnSend;

  void Connect() const {
    if (OnConnect) OnConnect();
  }
  void Disconnect() const {
    if (OnDisconnect) OnDisconnect();
  }
  void Receive(std::string_view bytes) const {
    if (OnReceive) OnReceive(bytes);
  }
  void Send(std::string_view bytes) const {
    if (OnSend) OnSend(bytes);
  }
};

}  // namespace vorn
