// Downloads one file over passive FTP with the program's own client, as the update does:
//   ftp_get HOST PORT USER PASSWORD REMOTE-PATH LOCAL-PATH
// Used by bench/ftp-download.sh. Prints the error text and exits 1 on failure.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "IdFTP.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: ftp_get HOST PORT USER PASSWORD REMOTE-PATH LOCAL-PATH\n");
    return 2;
  }
  try {
    vorn::TIdFTP ftp;
    ftp.Host = argv[1];
    ftp.Port = std::atoi(argv[2]);
    ftp.Username = argv[3];
    ftp.Password = argv[4];
    ftp.Passive = true;
    ftp.OpenConnection();
    ftp.Download(argv[5], argv[6], true, false);
    ftp.CloseConnection();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ftp_get: %s\n", e.what());
    return 1;
  }
  return 0;
}
