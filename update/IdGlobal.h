// Kinds and modes shared by the connection layer, the FTP client and the update window.
#pragma once

namespace vorn {

// Status reports of a connection, in this order; the last three come from the FTP client.
enum class TIdStatus {
  hsResolving,       // "Resolving hostname %s."
  hsConnecting,      // "Connecting to %s."
  hsConnected,       // "Connected."
  hsDisconnecting,   // "Disconnecting."
  hsDisconnected,    // "Disconnected."
  hsStatusText,      // "%s"
  ftpTransfer,       // "%s": "Starting FTP transfer"
  ftpReady,          // "%s": "Connection established", "Transfer complete"
  ftpAborted,        // "%s": "Transfer aborted"
};

// Work reports come in two modes, each with its own nesting level and running count.
enum class TWorkMode { wmRead, wmWrite };

// What ReadLine does with a line longer than MaxLineLength.
enum class TIdMaxLineAction { maException, maSplit };

}  // namespace vorn
