#include "IdException.h"

#include <cerrno>
#include <map>

namespace vorn {

std::string SocketErrorText(int number) {
  static const std::map<int, const char*> texts = {
      {kWsaEIntr, "Interrupted system call."},
      {kWsaEBadF, "Bad file number."},
      {kWsaEAcces, "Access denied."},
      {kWsaEFault, "Bad address."},
      {kWsaEInval, "Invalid argument."},
      {kWsaEMFile, "Too many open files."},
      {kWsaEWouldBlock, "Operation would block. "},
      {kWsaEInProgress, "Operation now in progress."},
      {kWsaEAlready, "Operation already in progress."},
      {kWsaENotSock, "Socket operation on non-socket."},
      {kWsaEDestAddrReq, "Destination address required."},
      {kWsaEMsgSize, "Message too long."},
      {kWsaEProtoType, "Protocol wrong type for socket."},
      {kWsaENoProtoOpt, "Bad protocol option."},
      {kWsaEProtoNoSupport, "Protocol not supported."},
      {kWsaESocktNoSupport, "Socket type not supported."},
      {kWsaEOpNotSupp, "Operation not supported on socket."},
      {kWsaEPfNoSupport, "Protocol family not supported."},
      {kWsaEAfNoSupport, "Address family not supported by protocol family."},
      {kWsaEAddrInUse, "Address already in use."},
      {kWsaEAddrNotAvail, "Cannot assign requested address."},
      {kWsaENetDown, "Network is down."},
      {kWsaENetUnreach, "Network is unreachable."},
      {kWsaENetReset, "Net dropped connection or reset."},
      {kWsaEConnAborted, "Software caused connection abort."},
      {kWsaEConnReset, "Connection reset by peer."},
      {kWsaENoBufs, "No buffer space available."},
      {kWsaEIsConn, "Socket is already connected."},
      {kWsaENotConn, "Socket is not connected."},
      {kWsaEShutdown, "Cannot send or receive after socket is closed."},
      {kWsaETooManyRefs, "Too many references, cannot splice."},
      {kWsaETimedOut, "Connection timed out."},
      {kWsaEConnRefused, "Connection refused."},
      {kWsaELoop, "Too many levels of symbolic links."},
      {kWsaENameTooLong, "File name too long."},
      {kWsaEHostDown, "Host is down."},
      {kWsaEHostUnreach, "No route to host."},
      {kWsaENotEmpty, "Directory not empty"},
      {kWsaHostNotFound, "Host not found."},
  };
  const auto it = texts.find(number);
  return it == texts.end() ? std::string() : std::string(it->second);
}

int SocketErrorNumber(int e) {
  switch (e) {
    case EINTR:
      return kWsaEIntr;
    case EBADF:
      return kWsaEBadF;
    case EACCES:
    case EPERM:
      return kWsaEAcces;
    case EFAULT:
      return kWsaEFault;
    case EINVAL:
      return kWsaEInval;
    case EMFILE:
    case ENFILE:
      return kWsaEMFile;
    case EWOULDBLOCK:
      return kWsaEWouldBlock;
    case EINPROGRESS:
      return kWsaEInProgress;
    case EALREADY:
      return kWsaEAlready;
    case ENOTSOCK:
      return kWsaENotSock;
    case EDESTADDRREQ:
      return kWsaEDestAddrReq;
    case EMSGSIZE:
      return kWsaEMsgSize;
    case EPROTOTYPE:
      return kWsaEProtoType;
    case ENOPROTOOPT:
      return kWsaENoProtoOpt;
    case EPROTONOSUPPORT:
      return kWsaEProtoNoSupport;
    case ESOCKTNOSUPPORT:
      return kWsaESocktNoSupport;
    case EOPNOTSUPP:
      return kWsaEOpNotSupp;
    case EPFNOSUPPORT:
      return kWsaEPfNoSupport;
    case EAFNOSUPPORT:
      return kWsaEAfNoSupport;
    case EADDRINUSE:
      return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
      return kWsaEAddrNotAvail;
    case ENETDOWN:
      return kWsaENetDown;
    case ENETUNREACH:
      return kWsaENetUnreach;
    case ENETRESET:
      return kWsaENetReset;
    case ECONNABORTED:
      return kWsaEConnAborted;
    case ECONNRESET:
    case EPIPE:
      return kWsaEConnReset;
    case ENOBUFS:
      return kWsaENoBufs;
    case EISCONN:
      return kWsaEIsConn;
    case ENOTCONN:
      return kWsaENotConn;
    case ESHUTDOWN:
      return kWsaEShutdown;
    case ETOOMANYREFS:
      return kWsaETooManyRefs;
    case ETIMEDOUT:
      return kWsaETimedOut;
    case ECONNREFUSED:
      return kWsaEConnRefused;
    case ELOOP:
      return kWsaELoop;
    case ENAMETOOLONG:
      return kWsaENameTooLong;
    case EHOSTDOWN:
      return kWsaEHostDown;
    case EHOSTUNREACH:
      return kWsaEHostUnreach;
    case ENOTEMPTY:
      return kWsaENotEmpty;
    default:
      return e;
  }
}

EIdSocketError::EIdSocketError(int number)
    : EIdNumberedError(
          number, "Socket Error # " + std::to_string(number) + "\r\n" + SocketErrorText(number)) {}

EConvertError EConvertError::NotAnInteger(const std::string& text) {
  return EConvertError("'" + text + "' is not a valid integer value");
}

void RaiseLastSocketError() { throw EIdSocketError(SocketErrorNumber(errno)); }

}  // namespace vorn
