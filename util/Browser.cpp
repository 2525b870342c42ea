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

int OpenInBrowser(const std::string& address) {
  if (!Opener()) return StartProgramReporting({"xdg-open", address});
  Opener()(address);
  return 0;
}

BrowserOpener SetBrowserOpener(BrowserOpener opener) {
  return std::exchange(Opener(), std::move(opener));
}

}  // namespace vorn
