// The error classes of the connection layer, the FTP client and the echo probe. Each carries
// its message text; socket errors carry the Windows error number the program reports
// (IdSocketErrors.h names them).
#pragma once

#include <stdexcept>
#include <string>

#include "IdSocketErrors.h"

namespace vorn {

class EIdException : public std::runtime_error {
 public:
  explicit EIdException(const std::string& message) : std::runtime_error(message) {}
};

// An error that carries a number beside its text.
class EIdNumberedError : public EIdException {
 protected:
  EIdNumberedError(int number, const std::string& message)
      : EIdException(message), number_(number) {}
  int number_;
};

// A reply code outside the allowed list; the text is the reply's lines, each ended by CR LF.
class EIdProtocolReplyError : public EIdNumberedError {
 public:
  EIdProtocolReplyError(int code, const std::string& text) : EIdNumberedError(code, text) {}
  int ReplyErrorCode() const { return number_; }
};

class EIdConnClosedGracefully : public EIdException {
 public:
  EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

// "Socket Error # %d\r\n%s" with the number's text from the table (empty for others).
class EIdSocketError : public EIdNumberedError {
 public:
  explicit EIdSocketError(int number);
  int LastError() const { return number_; }
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
 public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

class EIdNotConnected : public EIdException {
 public:
  EIdNotConnected() : EIdException("Not Connected") {}
};

class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdFTPFileAlreadyExists : public EIdException {
 public:
  EIdFTPFileAlreadyExists() : EIdException("Destination file already exists.") {}
};

// "'%s' is not a valid integer value".
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
  static EConvertError NotAnInteger(const std::string& text);
};

// The text of a socket error number, as the table gives it ("" for numbers not in it).
std::string SocketErrorText(int number);

// The Windows socket error number that stands for a POSIX errno value (ECONNREFUSED is
// kWsaEConnRefused, ETIMEDOUT kWsaETimedOut, ...); errno values without one are reported as
// themselves.
int SocketErrorNumber(int posixErrno);

// Throws EIdSocketError for the current errno.
[[noreturn]] void RaiseLastSocketError();

}  // namespace vorn
