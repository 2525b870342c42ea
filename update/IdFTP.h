// The FTP client of the self-update: a control connection (a TIdTCPClient on port 21) with the
// commands of the update on top, and one data connection per download.
//
// Reports: the connection's status events, plus Transfer "Starting FTP transfer", Ready
// "Connection established" / "Transfer complete" and TransferAborted "Transfer aborted". The data
// connection carries the client's three work events, so a download's progress (read mode,
// expected total 0, running counts 32768, 65536, ...) reaches the same handlers; a work
// handler may pump GUI events and call AbortTransfer. During a download the work events'
// sender is the data connection (DataConnection()), not the client itself.
//
// In use, as the update does it:
//   TIdFTP ftp;  ftp.Host = VORN_UPDATE_HOST;  ftp.Username = "tavo";  ftp.Password = "brimtu47";
//   ftp.Passive = true;
//   ftp.OnStatus = [&](TIdTCPConnection&, TIdStatus, const std::string& text) { Add(text); };
//   ftp.OpenConnection();
//   ftp.ChangeWorkingDir("/docs/Quillo/Programs/");
//   const std::int64_t size = ftp.QuerySize("Vorn10.exe");               // -1: no size
//   ftp.Download(ftp.QueryWorkingDir() + "/Vorn10.exe", tempPath, true, false);
// Failures are exceptions: the connection's and the client's errors derive from EIdException;
// EConvertError (a bad PASV reply) and EStreamError (the local file) from std::runtime_error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "IdTCPClient.h"

namespace vorn {

enum class TIdFTPTransferType { ftASCII, ftBinary };

// Only a direct login (fpcmNone) is built; the record is kept so settings read as designed.
enum class TIdFtpProxyType { fpcmNone };
struct TIdFtpProxySettings {
  TIdFtpProxyType ProxyType = TIdFtpProxyType::fpcmNone;
  std::string Host;
  int Port = 0;
};

class TIdFTP;
using TIdAfterGetEvent = std::function<void(TIdFTP& sender, TStream& destination)>;

class TIdFTP : public TIdTCPClient {
 public:
  TIdFTP();
  ~TIdFTP() override;

  std::string Username;
  std::string Password;
  // true: the client opens the data connection to the port PASV names, on the control
  // connection's peer (never another host the reply may name)
  bool Passive = false;
  TIdFTPTransferType TransferType = TIdFTPTransferType::ftBinary;
  TIdFtpProxySettings ProxySettings;

  // Raised after a download has been received in full (also after an abort that the server
  // confirmed), before the file is closed.
  TIdAfterGetEvent OnAfterGet;

  TIdRFCReply GreetingReply;
  TIdRFCReply LoginReply;
  std::string SystemDescription;
  // The data connection of the running transfer, or nullptr.
  TIdTCPClient* DataConnection() const { return dataConnection_.get(); }
  // Whether a transfer runs (also while its data connection is not open yet).
  bool Transferring() const { return transferring_; }

  // Connects, reads the greeting (220) and, with autoLogin, logs in: USER (230 or 331),
  // PASS on 331 (230), TYPE I or A (200), SYST (200, 215, 500), then reports Ready
  // "Connection established". Raises EIdAlreadyConnected on an open connection; on any other
  // failure the connection is closed again (with its reports) and the error goes on.
  void OpenConnection(bool autoLogin = true, int connectTimeoutMs = -1);
  // Closes the control connection with its reports; no QUIT is sent.
  void CloseConnection();
  // CWD dir, allowed 200 or 250.
  void ChangeWorkingDir(const std::string& dir);
  // PWD, allowed 257: the directory between the first two double quotes ("" without them).
  std::string QueryWorkingDir();
  // SIZE path: the byte count the server answers with 213, else -1.
  std::int64_t QuerySize(const std::string& path);
  // PASV, allowed 227: the data address and port. A bad field raises EConvertError. Over an
  // IPv6 control connection, where PASV can name no address, EPSV (229) gives the port.
  void EnterPassive(std::string& address, int& port);
  // Retrieves remotePath into the file localPath (created, or truncated when mayOverwrite;
  // appended to when resume and the server can restart). An existing file that may be neither
  // overwritten nor resumed raises EIdFTPFileAlreadyExists.
  void Download(const std::string& remotePath, const std::string& localPath,
                bool mayOverwrite = false, bool resume = false);
  // Retrieves remotePath into a destination the caller made, then raises OnAfterGet.
  void Download(const std::string& remotePath, TStream& destination);
  // Runs one retrieving command (e.g. "RETR /a/b") into destination over a data connection
  // (passive or active as Passive says), then reads the final reply; an abort confirmed by
  // 426 or 450 (and the reply to the ABOR) is reported as "Transfer aborted". A 426 or 450
  // when no ABOR was sent means the server broke the transfer off: EIdProtocolReplyError.
  void RunRetrieve(const std::string& command, TStream& destination, bool resume);
  // Sends ABOR (its reply is not read here) and closes the data connection's socket, which
  // ends a running copy at its next test. Safe to call from a work or waiting event; a
  // transfer aborted before its command went out sends none and ends as aborted. A reply to ABOR
  // that the transfer does not take (no transfer ran, or the server had already finished it)
  // is read before the next command, so every command still gets its own reply.
  void AbortTransfer();
  // Reads the replies still owed (for ABOR, or a transfer that failed), then sends the command
  // and reads its reply. A transfer that fails before its start reply came closes the control
  // connection instead, as does any reply that cannot be read whole.
  int SendCommand(const std::string& command, const TIdReplyCodes& allowed = {}) override;
  // Whether the server restarts transfers (asked once: REST 1 answered 350, then REST 0).
  bool CanResume();

  // The parsers of the server's answers, also used by the fuzz target.
  static std::string ParseWorkingDir(std::string_view firstTextLine);
  static void ParsePassive(std::string_view firstTextLine, std::string& address, int& port);
  // The port of an extended passive reply: "(|||port|)", any delimiter in place of "|".
  static int ParseExtendedPassive(std::string_view firstTextLine);
  static std::int64_t ParseSize(const TIdRFCReply& reply);

 protected:
 private:
  void Login();
  // Runs a read of replies; when it fails with anything but a whole refused reply, the
  // control connection is closed, so no later command can take a stray reply for its own.
  template <typename Read>
  void InStep(Read&& read);
  std::unique_ptr<TIdTCPClient> dataConnection_;
  std::optional<bool> canResume_;
  bool transferring_ = false;
  // Set by an abort during a transfer: before its command went out the transfer ends at once,
  // after it the server's last replies are waited for only kAbortReplyTimeoutMs.
  bool aborted_ = false;
  void EndAbortedEarly();
  // Replies to read before the next command's own: those to ABORs sent, and the final
  // replies of transfers that failed after they started.
  int owedReplies_ = 0;
};

}  // namespace vorn
