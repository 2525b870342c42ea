// A small program that the update tests install and start in place of the real one. It
// answers the update handshake as the program does ("ready VERSION" on the descriptor named),
// or, built as one of the faulty candidates, crashes, hangs or gives another version; one
// more candidate needs a library the system does not have and never gets to main.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef FTPER_NEEDS_MISSING
int FtperMissingLibrary();
#endif

int main(int argc, char** argv) {
#ifdef FTPER_NEEDS_MISSING
  if (argc > 5) return FtperMissingLibrary();
#endif
  if (argc == 3 && std::strcmp(argv[1], "--update-handshake") == 0) {
#if defined(FTPER_CRASH)
    std::raise(SIGSEGV);
#elif defined(FTPER_HANG)
    for (;;) pause();
#endif
    const std::string answer = std::string("ready ") + FTPER_VERSION + "\n";
    return write(std::atoi(argv[2]), answer.data(), answer.size()) ==
                   static_cast<ssize_t>(answer.size())
               ? 0
               : 1;
  }
  return 0;
}
