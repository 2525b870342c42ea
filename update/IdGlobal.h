// Kinds and modes shared by the connection layer, the FTP client and the update window.
#pragma once

namespace vorn {

// Status reports of a connection, in this order; the last three come from the FTP client.
enum class TIdStatus {
  Resolving,        // "Resolving hostname %s."
  Connecting,       // "Connecting to %s."
  Connected,        // "Connected."
  Disconnecting,    // "Disconnecting."
  Disconnected,     // "Disconnected."
  StatusText,       // "%s"
  Transfer,         // "%s": "Starting FTP transfer"
  Ready,            // "%s": "Connection established", "Transfer complete"
  TransferAborted,  // "%s": "Transfer aborted"
};

// Work reports come in two modes, each with its own nesting level and running count.
enum class TWorkMode { wmRead, wmWrite };

// What ReadLine does with a line longer than MaxLineLength.
enum class TIdMaxLineAction { maException, maSplit };

}  // namespace vorn
