#include "UpdateSignature.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Fd.h"

namespace vorn {

namespace {

std::optional<UpdatePublicKey>& KeyInPlace() {
  static std::optional<UpdatePublicKey> key;
  return key;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The whole file: Ed25519 signs the message itself, not a digest of it.
bool ReadWhole(const std::string& path, std::vector<unsigned char>& bytes) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  struct stat info {};
  bool ok = ::fstat(fd.fd(), &info) == 0 && S_ISREG(info.st_mode);
  if (ok) bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::read(fd.fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  return ok;
}

}  // namespace

std::optional<UpdatePublicKey> ParseUpdateKey(std::string_view hex) {
  UpdatePublicKey key{};
  if (hex.size() != key.size() * 2) return std::nullopt;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return key;
}

UpdatePublicKey TrustedUpdateKey() {
  if (KeyInPlace()) return *KeyInPlace();
  // The build checks the digits, so this cannot fail in a program that was built.
  static const UpdatePublicKey builtIn = *ParseUpdateKey(VORN_UPDATE_PUBLIC_KEY);
  return builtIn;
}

std::optional<UpdatePublicKey> SetTrustedUpdateKey(std::optional<UpdatePublicKey> key) {
  return std::exchange(KeyInPlace(), std::move(key));
}

bool VerifyUpdateSignature(const std::string& path, std::string_view signature) {
  if (signature.size() != kUpdateSignatureSize) return false;
  if (::sodium_init() < 0) throw std::runtime_error("The signature library could not start.");
  std::vector<unsigned char> bytes;
  if (!ReadWhole(path, bytes)) return false;
  const UpdatePublicKey key = TrustedUpdateKey();
  return ::crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                       bytes.data(), bytes.size(), key.data()) == 0;
}

}  // namespace vorn
