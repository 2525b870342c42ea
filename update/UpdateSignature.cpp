#include "UpdateSignature.h"

#include <sodium.h>

#include <stdexcept>
#include <utility>

#include "txthandling.h"

namespace vorn {

namespace {

std::optional<UpdatePublicKey>& KeyInPlace() {
  static std::optional<UpdatePublicKey> key;
  return key;
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
  return std::exchange(KeyInPlace(), key);
}

bool IsUsableUpdateKey(const UpdatePublicKey& key) {
  if (::sodium_init() < 0) throw std::runtime_error("The signature library could not start.");
  return ::crypto_core_ed25519_is_valid_point(key.data()) == 1;
}

bool VerifyUpdateSignature(std::string_view bytes, std::string_view signature) {
  if (signature.size() != kUpdateSignatureSize || bytes.empty()) return false;
  if (::sodium_init() < 0) throw std::runtime_error("The signature library could not start.");
  // Ed25519 signs the message itself, not a digest of it: the whole file is looked at.
  const UpdatePublicKey key = TrustedUpdateKey();
  if (!IsUsableUpdateKey(key)) return false;
  return ::crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       bytes.size(), key.data()) == 0;
}

}  // namespace vorn
