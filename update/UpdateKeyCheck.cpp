// Built and run when the build is configured: exits 0 when the update key (64 hex digits in
// VORN_KEY) is a point that signatures can verify under, 1 when it is not, 2 when the
// signature library cannot start.
#include <sodium.h>

#define VORN_TEXT(x) #x
#define VORN_STRING(x) VORN_TEXT(x)

int main() {
  const char* hex = VORN_STRING(VORN_KEY);
  unsigned char key[32] = {};
  for (int i = 0; i < 64; ++i) {
    const char c = hex[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return 1;
    key[i / 2] = static_cast<unsigned char>(key[i / 2] * 16 + digit);
  }
  if (sodium_init() < 0) return 2;
  return crypto_core_ed25519_is_valid_point(key) == 1 ? 0 : 1;
}
