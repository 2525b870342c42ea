// Records a connection's events as short lines ("Status : Connected.", "WorkBegin r 0",
// "Work r 32768", "WorkEnd r", "Connected", "Disconnected", "AfterGet"), in order.
#pragma once

#include <string>
#include <vector>

#include "IdFTP.h"

namespace vorn::test {

struct EventLog {
  std::vector<std::string> lines;

  void Hook(TIdTCPConnection& c) {
    c.OnStatus = [this](TIdTCPConnection&, TIdStatus, const std::string& text) {
      lines.push_back("Status : " + text);
    };
    c.OnConnected = [this](TIdTCPConnection&) { lines.push_back("Connected"); };
    c.OnDisconnected = [this](TIdTCPConnection&) { lines.push_back("Disconnected"); };
    c.OnWorkBegin = [this](TIdTCPConnection&, TWorkMode m, std::int64_t total) {
      lines.push_back("WorkBegin " + Mode(m) + " " + std::to_string(total));
    };
    c.OnWork = [this](TIdTCPConnection&, TWorkMode m, std::int64_t count) {
      lines.push_back("Work " + Mode(m) + " " + std::to_string(count));
    };
    c.OnWorkEnd = [this](TIdTCPConnection&, TWorkMode m) { lines.push_back("WorkEnd " + Mode(m)); };
  }
  void Hook(TIdFTP& ftp) {
    Hook(static_cast<TIdTCPConnection&>(ftp));
    ftp.OnAfterGet = [this](TIdFTP&, TStream&) { lines.push_back("AfterGet"); };
  }
  // The lines that start with `prefix`, in order.
  std::vector<std::string> Only(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : lines) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    }
    return out;
  }
  static std::string Mode(TWorkMode m) { return m == TWorkMode::wmRead ? "r" : "w"; }
};

}  // namespace vorn::test
