#include "IdFTP.h"

#include <sys/stat.h>

#include <charconv>

#include "IdException.h"
#include "ScopeExit.h"

namespace vorn {

namespace {

constexpr int kAbortReplyTimeoutMs = 5000;

// Marks a transfer as running for its lifetime: a second transfer started from inside a work
// event would replace the data connection that the first one is still reading.
class TransferGuard {
 public:
  explicit TransferGuard(bool& flag) : flag_(flag) {
    if (flag_) throw EIdException("A transfer is already running.");
    flag_ = true;
  }
  ~TransferGuard() { flag_ = false; }
  TransferGuard(const TransferGuard&) = delete;
  TransferGuard& operator=(const TransferGuard&) = delete;

 private:
  bool& flag_;
};

// A PASV field as an integer within [low, high]; `what` names the field in the error text.
int PassiveField(std::string_view field, int low, int high, const char* what) {
  std::string bare;
  for (const char c : field) {
    if (c != ' ') bare += c;
  }
  int value = 0;
  if (!TryStrToInt(bare, value)) throw EConvertError::NotAnInteger(bare);
  if (value < low || value > high) {
    throw EConvertError("'" + bare + "' is not a valid " + what + " in the passive reply (" +
                        std::to_string(low) + " to " + std::to_string(high) + ")");
  }
  return value;
}

}  // namespace

TIdFTP::TIdFTP() { Port = 21; }

TIdFTP::~TIdFTP() = default;

template <typename Read>
void TIdFTP::InStep(Read&& read) {
  try {
    read();
  } catch (const EIdProtocolReplyError&) {
    throw;
  } catch (...) {
    // A reply that did not arrive whole may still come and would answer the next command.
    CloseConnection();
    throw;
  }
}

void TIdFTP::OpenConnection(bool autoLogin, int connectTimeoutMs) {
  if (IsConnected()) throw EIdAlreadyConnected();
  try {
    owedReplies_ = 0;
    Connect(connectTimeoutMs);
    ReadReply({220});
    GreetingReply = LastReply;
    if (autoLogin) Login();
  } catch (...) {
    CloseConnection();
    throw;
  }
}

void TIdFTP::Login() {
  if (SendCommand("USER " + Username, {230, 331}) == 331) SendCommand("PASS " + Password, {230});
  LoginReply = LastReply;
  SendCommand(TransferType == TIdFTPTransferType::ftBinary ? "TYPE I" : "TYPE A", {200});
  if (SendCommand("SYST", {200, 215, 500}) == 500) {
    SystemDescription = "Unknown";
  } else {
    SystemDescription = LastReply.Text.empty() ? std::string() : LastReply.Text.front();
  }
  DoStatus(TIdStatus::Ready, "Connection established");
}

void TIdFTP::CloseConnection() { Disconnect(); }

void TIdFTP::ChangeWorkingDir(const std::string& dir) { SendCommand("CWD " + dir, {200, 250}); }

std::string TIdFTP::ParseWorkingDir(std::string_view line) {
  const std::size_t open = line.find('"');
  if (open == std::string_view::npos) return {};
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(line.substr(open + 1, close - open - 1));
}

std::string TIdFTP::QueryWorkingDir() {
  SendCommand("PWD", {257});
  return LastReply.Text.empty() ? std::string() : ParseWorkingDir(LastReply.Text.front());
}

std::int64_t TIdFTP::ParseSize(const TIdRFCReply& reply) {
  if (reply.NumericCode != 213) return -1;
  const std::string joined = reply.FormattedText();
  std::string_view text = TIdRFCReply::Trim(joined);
  const std::size_t blank = text.find(' ');
  if (blank != std::string_view::npos) text.remove_prefix(blank + 1);
  // Only a plain decimal count is a size; a sign or anything else means the server gave none.
  if (text.empty() || text.front() < '0' || text.front() > '9') return -1;
  std::int64_t size = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (ec != std::errc() || end != text.data() + text.size()) return -1;
  return size;
}

std::int64_t TIdFTP::QuerySize(const std::string& path) {
  SendCommand("SIZE " + path);
  return ParseSize(LastReply);
}

void TIdFTP::ParsePassive(std::string_view line, std::string& address, int& port) {
  std::string_view text = TIdRFCReply::Trim(line);
  const std::size_t open = text.find('('), close = text.find(')');
  if (open != std::string_view::npos && close != std::string_view::npos) {
    text = close > open ? text.substr(open + 1, close - open - 1) : std::string_view();
  } else if (const std::size_t blank = text.rfind(' '); blank != std::string_view::npos) {
    text.remove_prefix(blank + 1);
  }
  std::string_view fields[6];
  for (auto& field : fields) {
    const std::size_t comma = text.find(',');
    field = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  // The address must be one, though the client connects to the control connection's peer.
  std::string dotted;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) dotted += '.';
    dotted += std::to_string(PassiveField(fields[i], 0, 255, "address field"));
  }
  const int high = PassiveField(fields[4], 0, 255, "port field");
  const int low = PassiveField(fields[5], 0, 255, "port field");
  const int number = high * 256 + low;
  if (number < 1) throw EConvertError("'0' is not a valid port in the passive reply (1 to 65535)");
  address = dotted;
  port = number;
}

int TIdFTP::ParseExtendedPassive(std::string_view line) {
  const std::size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 5)
    throw EConvertError("'" + std::string(line) + "' is not an extended passive reply");
  std::string_view inner = line.substr(open + 1, close - open - 1);
  const char delimiter = inner.front();
  // Three delimiters (no protocol, no address), the port, the closing delimiter.
  if (inner.size() < 5 || inner[1] != delimiter || inner[2] != delimiter ||
      inner.back() != delimiter)
    throw EConvertError("'" + std::string(inner) + "' is not an extended passive reply");
  const int number = PassiveField(inner.substr(3, inner.size() - 4), 1, 65535, "port");
  return number;
}

void TIdFTP::EnterPassive(std::string& address, int& port) {
  if (IOHandler().Family() == AF_INET6) {
    SendCommand("EPSV", {229});
    port =
        ParseExtendedPassive(LastReply.Text.empty() ? std::string_view() : LastReply.Text.front());
    address = IOHandler().PeerAddress();
    return;
  }
  SendCommand("PASV", {227});
  ParsePassive(LastReply.Text.empty() ? std::string_view() : LastReply.Text.front(), address, port);
}

bool TIdFTP::CanResume() {
  if (!canResume_) {
    canResume_ = SendCommand("REST 1") == 350;
    SendCommand("REST 0");
  }
  return *canResume_;
}

void TIdFTP::Download(const std::string& remotePath, const std::string& localPath,
                      bool mayOverwrite, bool resume) {
  if (transferring_) throw EIdException("A transfer is already running.");
  struct stat info {};
  TFileStream::Mode mode = TFileStream::Mode::Create;
  if (::stat(localPath.c_str(), &info) == 0) {
    resume = resume && CanResume();
    // Resuming where the server can restart wins over overwriting: that is what was asked.
    if (resume) {
      mode = TFileStream::Mode::Append;
    } else if (!mayOverwrite) {
      throw EIdFTPFileAlreadyExists();
    }
  } else {
    resume = false;
  }
  TFileStream file(localPath, mode);
  RunRetrieve("RETR " + remotePath, file, resume);
  if (OnAfterGet) OnAfterGet(*this, file);
  file.Close();
}

void TIdFTP::Download(const std::string& remotePath, TStream& destination) {
  if (transferring_) throw EIdException("A transfer is already running.");
  RunRetrieve("RETR " + remotePath, destination, false);
  if (OnAfterGet) OnAfterGet(*this, destination);
}

void TIdFTP::RunRetrieve(const std::string& command, TStream& destination, bool resume) {
  TransferGuard guard(transferring_);
  CheckCommand(command);
  aborted_ = false;
  DoStatus(TIdStatus::Transfer, "Starting FTP transfer");
  // How far the exchange got decides what a failure leaves owed on the control connection.
  enum class Stage { BeforeCommand, AwaitingStart, Started } stage = Stage::BeforeCommand;
  try {
    // However the transfer ends, its data connection goes and the end is reported, before a
    // failure is looked at below.
    ScopeExit complete([this] {
      dataConnection_.reset();
      DoStatus(TIdStatus::Ready, "Transfer complete");
    });
    std::string address;
    int dataPort = 0;
    if (Passive) EnterPassive(address, dataPort);
    dataConnection_ = std::make_unique<TIdTCPClient>();
    TIdTCPClient& data = *dataConnection_;
    data.SendBufferSize = SendBufferSize;
    data.RecvBufferSize = RecvBufferSize;
    data.ReadTimeout = ReadTimeout;
    data.ConnectTimeout = ConnectTimeout;
    data.OnWorkBegin = OnWorkBegin;
    data.OnWork = OnWork;
    data.OnWorkEnd = OnWorkEnd;
    data.OnWaiting = OnWaiting;
    const std::string restart = "REST " + std::to_string(destination.Position());
    // The command itself, once the data connection is on its way; false when aborted before.
    const auto startTransfer = [&] {
      if (resume) SendCommand(restart, {350});
      if (aborted_) return false;
      stage = Stage::AwaitingStart;
      WriteBytes(command + "\r\n");
      ReadReply({125, 150, 154});
      stage = Stage::Started;
      return true;
    };
    if (Passive) {
      // Only the port is taken from the reply: a server cannot aim the client at a third host.
      data.Host = IOHandler().PeerAddress();
      data.Port = dataPort;
      data.Connect();
      if (!startTransfer()) return EndAbortedEarly();
    } else {
      const int listening = data.Listen(*this);
      std::string numbers = IOHandler().LocalAddress();
      for (char& c : numbers) {
        if (c == '.') c = ',';
      }
      // Piece by piece: GCC 12's optimiser warns falsely on a literal + to_string here.
      numbers += ',';
      numbers += std::to_string(listening / 256);
      numbers += ',';
      numbers += std::to_string(listening % 256);
      SendCommand("PORT " + numbers, {200});
      if (!startTransfer()) return EndAbortedEarly();
      data.Accept(ConnectTimeout);
    }
    data.ReadStreamToEnd(destination);
    data.Disconnect();
  } catch (const EIdProtocolReplyError&) {
    // A refusal is a whole reply: the control connection is still in step.
    throw;
  } catch (...) {
    // An abort while the data connection was being opened (from a waiting handler) may end
    // the opening with an error of its own: the transfer was aborted, nothing more.
    if (stage == Stage::BeforeCommand && aborted_) return EndAbortedEarly();
    if (stage == Stage::Started) {
      // The server still sends the transfer's final reply; the next command reads it first.
      ++owedReplies_;
    } else if (stage == Stage::AwaitingStart) {
      // Whether and how many replies are still coming is unknown: only a new connection is sure.
      CloseConnection();
    }
    throw;
  }
  // After an abort the server has only its last replies to send: one that falls silent is not
  // waited for long (the control connection then closes, as for any reply not read whole).
  const int readTimeout = ReadTimeout;
  ScopeExit restoreTimeout([this, readTimeout] { ReadTimeout = readTimeout; });
  if (aborted_) ReadTimeout = kAbortReplyTimeoutMs;
  InStep([this] {
    const int code = ReadReply({225, 226, 250, 426, 450});
    if (code == 426 || code == 450) {
      // Unasked, this is the server giving up on the transfer: what came is not the whole
      // file, and there is no second reply to wait for. The commands that began the transfer
      // read every reply owed before it, so any owed now is for an ABOR sent during it.
      if (owedReplies_ == 0) throw EIdProtocolReplyError(code, LastReply.FormattedText());
      ReadReply({226, 225});
      --owedReplies_;
      DoStatus(TIdStatus::TransferAborted, "Transfer aborted");
    }
  });
}

void TIdFTP::EndAbortedEarly() {
  // The command never went out: nothing comes on the data connection and no transfer reply
  // is owed; the ABOR's own reply is read before the next command.
  DoStatus(TIdStatus::TransferAborted, "Transfer aborted");
}

void TIdFTP::AbortTransfer() {
  // Before the retrieving command went out the transfer is not started at all.
  if (transferring_) aborted_ = true;
  if (IOHandler().Connected()) {
    WriteBytes("ABOR\r\n");
    ++owedReplies_;
  }
  if (dataConnection_) dataConnection_->Disconnect();
}

int TIdFTP::SendCommand(const std::string& command, const TIdReplyCodes& allowed) {
  // Without this the answer to an ABOR, or the final reply of a transfer that failed, would
  // be taken as the answer to this command.
  InStep([this] {
    while (owedReplies_ > 0) {
      --owedReplies_;
      ReadReply();
    }
  });
  // A reply that did not come whole (a time-out, a drop) may still come and answer the next
  // command: the connection goes instead.
  int code = 0;
  InStep([&] { code = TIdTCPClient::SendCommand(command, allowed); });
  return code;
}

}  // namespace vorn
