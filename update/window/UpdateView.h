// What the update check needs from the window it runs in: the connection and the echo client,
// the message area, the progress of a download, the boxes it asks and tells with, and the
// user's Abort. The update window implements it; the check itself touches no widget.
#pragma once

#include <functional>
#include <string_view>

#include "IdFTP.h"
#include "IdIcmpClient.h"

namespace vorn {

class UpdateView {
 public:
  virtual ~UpdateView() = default;

  // The connection to the update server, and the echo client that probes its host.
  virtual TIdFTP& Connection() = 0;
  virtual TIdIcmpClient& EchoClient() = 0;

  // The message area: emptied, or text appended as its new last line.
  virtual void ClearLines() = 0;
  virtual void AddLine(std::string_view text) = 0;
  // Before a download: the progress back at 0 with this maximum and the count of written
  // bytes zeroed. A maximum below 0 raises the gauge's range error.
  virtual void StartProgress(int maximum) = 0;

  // Brought to the front, or closed.
  virtual void Present() = 0;
  virtual void Dismiss() = 0;

  // A question answered Yes (true) or No; a notice; the error box with this text as shown.
  virtual bool AskYesNo(std::string_view question) = 0;
  virtual void Notify(std::string_view text) = 0;
  virtual void ShowError(std::string_view text) = 0;
  // Runs work; an error that escapes it is shown in the error box.
  virtual void Guarded(const std::function<void()>& work) = 0;

  // "Abort" pressed since the last clear; the user quits (a running transfer stops, the
  // connection closes: nothing more is waited for).
  virtual bool AbortRequested() const = 0;
  virtual void ClearAbortRequested() = 0;
  virtual void AbortForQuit() = 0;
  // As the check ends: closes the connection when the user closed the window meanwhile.
  virtual void CloseIfPending() = 0;
};

}  // namespace vorn
