// Fuzz entry for what the FTP client parses from a server: line cutting and reply reading,
// the PASV address, the PWD directory and the SIZE count. The first byte picks the parser.
// Built with libFuzzer by scripts/fuzz; the tests replay the saved corpus.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "IdException.h"
#include "IdFTP.h"

namespace vorn {
namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void FuzzReply(std::string_view input, int maxLineLength, TIdMaxLineAction action) {
  TIdRFCReply reply;
  try {
    const auto lines = TIdRFCReply::ReadLines([&]() -> std::string {
      std::size_t length = 0, consumed = 0;
      if (!TIdTCPConnection::CutLine(input, maxLineLength, action, length, consumed)) {
        if (input.empty()) throw EIdConnClosedGracefully();
        length = consumed = input.size();  // the peer closed after a last line without LF
      }
      Check(length <= static_cast<std::size_t>(maxLineLength) && consumed <= input.size() &&
            consumed >= length && consumed > 0);
      std::string line(input.substr(0, length));
      input.remove_prefix(consumed);
      return line;
    });
    Check(!lines.empty() && !lines.front().empty());
    reply.Parse(lines);
    Check(reply.Text.size() == lines.size());
    Check(reply.TextCode.size() <= 4);
    (void)TIdFTP::ParseSize(reply);
  } catch (const EIdException&) {
  }
}

void FuzzPassive(std::string_view input) {
  std::string address;
  int port = 0;
  try {
    TIdFTP::ParsePassive(input, address, port);
  } catch (const EConvertError&) {
    return;
  }
  in_addr parsed{};
  Check(inet_pton(AF_INET, address.c_str(), &parsed) == 1);
  Check(port >= 1 && port <= 65535);
}

void FuzzWorkingDirAndSize(std::string_view input) {
  const std::string dir = TIdFTP::ParseWorkingDir(input);
  Check(dir.size() <= input.size() && dir.find('"') == std::string::npos);
  TIdRFCReply reply;
  reply.SetTextCode("213");
  reply.Text.emplace_back(input);
  const std::int64_t size = TIdFTP::ParseSize(reply);
  Check(size >= -1);
}

}  // namespace
}  // namespace vorn

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      vorn::FuzzReply(input, vorn::kIdMaxLineLength, vorn::TIdMaxLineAction::maException);
      break;
    case 1:
      vorn::FuzzReply(input, 8, vorn::TIdMaxLineAction::maSplit);
      break;
    case 2:
      vorn::FuzzPassive(input);
      break;
    default:
      vorn::FuzzWorkingDirAndSize(input);
      break;
  }
  return 0;
}
