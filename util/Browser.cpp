#include "Browser.h"

#include <utility>

#include "io.h"

namespace vorn {

namespace {
BrowserOpener& Opener() {
  static BrowserOpener opener;
  return opener;
}
}  // namespace

void OpenInBrowser(const std::string& address) {
  if (Opener())
    Opener()(address);
  else
    StartProgram({"xdg-open", address});
}

BrowserOpener SetBrowserOpener(BrowserOpener opener) {
  return std::exchange(Opener(), std::move(opener));
}

}  // namespace vorn
