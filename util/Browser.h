// Opens an address in the user's browser: fire and forget.
#pragma once

#include <functional>
#include <string>

namespace vorn {

// Hands the address, unchanged, to the desktop's opener (xdg-open). Returns 0, or the errno
// of an opener that could not be started.
int OpenInBrowser(const std::string& address);

// Tests replace the opener to capture the address; an empty function restores the real one.
// Returns the one that was in place.
using BrowserOpener = std::function<void(const std::string&)>;
BrowserOpener SetBrowserOpener(BrowserOpener opener);

}  // namespace vorn
