// The maker's signature on an update: an Ed25519 detached signature (64 raw bytes) over the
// whole program file, checked against the public key built into the program.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

inline constexpr std::size_t kUpdateSignatureSize = 64;
using UpdatePublicKey = std::array<unsigned char, 32>;

// 64 hex digits as a key; nullopt for anything else.
std::optional<UpdatePublicKey> ParseUpdateKey(std::string_view hex);

// The key updates are checked against: the built-in one, unless a test has put another in
// place. Returns the one that was in place; nullopt restores the built-in key.
UpdatePublicKey TrustedUpdateKey();
std::optional<UpdatePublicKey> SetTrustedUpdateKey(std::optional<UpdatePublicKey> key);

// Whether a key can verify any signature: a valid Ed25519 point of the main subgroup (not
// the identity, nor any other point of small order).
bool IsUsableUpdateKey(const UpdatePublicKey& key);

// True only when signature is exactly one Ed25519 signature by the trusted key over the
// file's bytes (a read-only mapping of it: a file of hundreds of megabytes is never copied).
// Empty bytes, a short or long signature and a bad one all give false.
bool VerifyUpdateSignature(std::string_view bytes, std::string_view signature);

}  // namespace vorn
