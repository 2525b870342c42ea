// The error classes of the connection layer, the FTP client and the echo probe. Each carries
// its message text; socket errors carry the Windows error number the program reports
// (IdSocketErrors.h names them).
#pragma once

#include <algorithm>
#include <cstddef>
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

// An error whose class fixes its text: each text below is a class of its own to catch.
template <std::size_t N>
struct FixedErrorText {
  // Implicit, so that a string literal can stand for the text.
  constexpr FixedErrorText(const char (&text)[N]) { std::copy_n(text, N, chars); }
  char chars[N];
};
template <FixedErrorText Text>
class EIdFixedError : public EIdException {
 public:
  EIdFixedError() : EIdException(Text.chars) {}
};

using EIdConnClosedGracefully = EIdFixedError<"Connection Closed Gracefully.">;
using EIdReadLnMaxLineLengthExceeded = EIdFixedError<"Max line length exceeded.">;
using EIdNotConnected = EIdFixedError<"Not Connected">;
using EIdAlreadyConnected = EIdFixedError<"Already connected.">;
using EIdFTPFileAlreadyExists = EIdFixedError<"Destination file already exists.">;

// "Socket Error # %d\r\n%s" with the number's text from the table (empty for others).
class EIdSocketError : public EIdNumberedError {
 public:
  explicit EIdSocketError(int number);
  int LastError() const { return number_; }
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
