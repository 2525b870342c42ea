// A TCP connection with an input buffer: line and reply reading, writing, copying the input
// into a stream, and status and work reports. All calls block the calling thread; the events
// are raised synchronously from inside them, so a handler may pump GUI events there.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IdConnectionIntercept.h"
#include "IdGlobal.h"
#include "IdIOHandlerSocket.h"
#include "IdRFCReply.h"
#include "IdStream.h"

namespace vorn {

class TIdTCPConnection;

using TIdStatusEvent =
    std::function<void(TIdTCPConnection& sender, TIdStatus status, const std::string& text)>;
using TIdNotifyEvent = std::function<void(TIdTCPConnection& sender)>;
using TIdWorkBeginEvent =
    std::function<void(TIdTCPConnection& sender, TWorkMode mode, std::int64_t expectedTotal)>;
using TIdWorkEvent =
    std::function<void(TIdTCPConnection& sender, TWorkMode mode, std::int64_t runningCount)>;
using TIdWorkEndEvent = std::function<void(TIdTCPConnection& sender, TWorkMode mode)>;

// Allowed reply codes; an empty list allows any code.
using TIdReplyCodes = std::vector<int>;

// The limit a read waits for data when ReadTimeout is 0: a silent peer fails with
// kWsaETimedOut.
inline constexpr int kIdDefaultReadTimeout = 60000;
// The limit a connect waits for the peer by default.
inline constexpr int kIdDefaultConnectTimeout = 15000;
// The longest a whole reply may take by default (0: no limit but ReadTimeout per read).
inline constexpr int kIdDefaultReplyTimeout = 0;
// The longest line ReadLine accepts by default (and for a MaxLineLength of 0 or less).
inline constexpr int kIdMaxLineLength = 16384;

class TIdTCPConnection {
 public:
  TIdTCPConnection();
  virtual ~TIdTCPConnection();  // closes the socket without reports or events
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  // Settings.
  int MaxLineLength = kIdMaxLineLength;  // longest line accepted, the LF not counted
  TIdMaxLineAction MaxLineAction = TIdMaxLineAction::maException;
  // Milliseconds a read or a send waits for the peer; 0 means kIdDefaultReadTimeout.
  // Running out fails with EIdSocketError kWsaETimedOut "Connection timed out.".
  int ReadTimeout = 0;
  // Milliseconds a whole reply may take from the start of its read, however the peer trickles
  // its bytes (0: no limit beyond ReadTimeout for each read). Running out fails with
  // kWsaETimedOut.
  int ReplyTimeout = kIdDefaultReplyTimeout;
  // When set, every wait of the connection (resolving, connecting, reading, sending) fails with
  // kWsaETimedOut "Connection timed out." once this moment has passed.
  std::optional<std::chrono::steady_clock::time_point> Deadline;
  int RecvBufferSize = 32768;  // the most one socket read takes; the chunk of ReadStreamToEnd
  int SendBufferSize = 32768;  // the most one send call is given
  TIdConnectionIntercept* Intercept = nullptr;  // not owned

  // Events.
  TIdStatusEvent OnStatus;
  TIdNotifyEvent OnConnected;
  TIdNotifyEvent OnDisconnected;
  TIdWorkBeginEvent OnWorkBegin;
  TIdWorkEvent OnWork;
  TIdWorkEndEvent OnWorkEnd;
  // Raised while a read, a send or a connect waits for the peer (at least every
  // kIdWaitSliceMs, and after each piece received): a handler may pump GUI events, and may
  // close this connection, which ends the wait with EIdNotConnected (a copy into a stream
  // then simply ends, as after an abort from a work event).
  TIdNotifyEvent OnWaiting;

  // The reply last read by ReadReply.
  TIdRFCReply LastReply;

  // Closes an open connection: Disconnecting report, the intercept told, socket closed,
  // OnDisconnected, Disconnected report. Nothing is sent to the peer. Called from a waiting
  // handler while the connection is being opened (also while the host is being resolved), it
  // ends the opening with EIdNotConnected.
  void Disconnect();
  // Handles a close by the peer that can be seen without waiting (Disconnected report and
  // OnDisconnected, no error), then answers whether the socket is open.
  bool IsConnected();

  // The next line: the bytes before the next LF, one CR before it removed. A line longer than
  // MaxLineLength raises EIdReadLnMaxLineLengthExceeded (maException) or is cut (maSplit).
  std::string ReadLine();
  // Reads one reply into LastReply and returns its code; a code outside a non-empty `allowed`
  // raises EIdProtocolReplyError with the reply's text.
  int ReadReply(const TIdReplyCodes& allowed = {});
  // Raises EIdException for a command holding CR or LF: commands are single lines.
  static void CheckCommand(std::string_view command);
  // Writes `command` CR LF (after CheckCommand), then reads the reply.
  virtual int SendCommand(const std::string& command, const TIdReplyCodes& allowed = {});
  // Sends all bytes, in pieces of at most SendBufferSize; each send is a write work step.
  void WriteBytes(std::string_view bytes);
  // Copies the input into `destination` until the peer closes (or the socket is closed from a
  // work event), in chunks of RecvBufferSize, each a read work step before it is written.
  void ReadStreamToEnd(TStream& destination);

  // Work brackets: only the outermost bracket of a mode raises OnWorkBegin and OnWorkEnd and
  // resets the count; steps are reported only inside a bracket.
  void BeginWork(TWorkMode mode, std::int64_t expectedTotal);
  void DoWork(TWorkMode mode, std::int64_t count);
  void EndWork(TWorkMode mode);
  // Raises OnStatus with the kind's text formatted with `argument`.
  void DoStatus(TIdStatus status, const std::string& argument = std::string());
  static std::string StatusText(TIdStatus status, const std::string& argument);

  // For a connection the peer opens (an active transfer): listens on the local address of
  // `like` on a free port and returns it; Accept then waits for the peer, at most timeoutMs.
  int Listen(TIdTCPConnection& like);
  void Accept(int timeoutMs);

  // Bytes received and not yet consumed.
  std::size_t InputBufferSize() const { return tail_ - head_; }
  TIdIOHandlerSocket& IOHandler() { return socket_; }

  // Where the next line ends in `buffered`: sets `lineLength` (CR not removed) and `consumed`
  // (with the LF) and returns true; false when more bytes are needed. Raises
  // EIdReadLnMaxLineLengthExceeded for a too long line under maException.
  static bool CutLine(std::string_view buffered, int maxLineLength, TIdMaxLineAction action,
                      std::size_t& lineLength, std::size_t& consumed);

 protected:
  // Raises OnWaiting; a client may raise it only at some times.
  virtual void Waiting();
  // Runs while a wait goes on: raises Waiting, then ends the wait when the opening was called
  // off or a deadline (Deadline, the reply's) has passed.
  void Tick();
  TIdWaitTick WaitTick() {
    return [this] { Tick(); };
  }
  bool DeadlinePassed() const;
  // Connects the socket to host and port with the reports and events of an opening.
  void ConnectTo(const std::string& host, int port, int timeoutMs);
  int EffectiveReadTimeout() const { return ReadTimeout > 0 ? ReadTimeout : kIdDefaultReadTimeout; }

 private:
  struct WorkState {
    int level = 0;
    std::int64_t total = 0;
    std::int64_t count = 0;
  };
  WorkState& Work(TWorkMode mode) { return mode == TWorkMode::wmRead ? workRead_ : workWrite_; }

  // One socket read appended to the input buffer. On a close by the peer the connection is
  // closed with its reports, and EIdConnClosedGracefully raised when nothing is buffered.
  void ReadFromStack();
  void HandlePeerClose();
  // Drops n bytes from the front of the input buffer; a read work step.
  void Consume(std::size_t n);
  std::string_view Buffered() const { return {buffer_.get() + head_, tail_ - head_}; }
  char* PrepareAppend(std::size_t n);

  TIdIOHandlerSocket socket_;
  bool closedByPeer_ = false;
  bool connecting_ = false;      // an opening runs
  bool callOffOpening_ = false;  // Disconnect was called during it
  std::optional<std::chrono::steady_clock::time_point> replyDeadline_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0, head_ = 0, tail_ = 0;
  WorkState workRead_, workWrite_;
};

}  // namespace vorn
