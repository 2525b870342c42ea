// Cuts RTF bytes into what a reader acts on: group braces, control words with their numeric
// parameter, control symbols, \'hh bytes, runs of text bytes and \bin data. It knows nothing
// of what the words mean, so it needs no Qt. Line ends in the text are not content and are
// dropped; an escaped "\", "{" or "}" is a text byte.
#pragma once

#include <cstddef>
#include <string_view>

namespace vorn {

// What lies between the group braces.
struct RtfToken {
  enum class Kind {
    Word,     // a control word: name, and its parameter when it has one
    Symbol,   // a control symbol other than the escapes: "\~", "\*", "\" LF, ...
    HexByte,  // "\'hh": one byte of text
    Text,     // bytes of text, none of them CR, LF, "\", "{" or "}" unless escaped
    Binary,   // the bytes of "\binN", which are no text
  };
  Kind kind = Kind::Text;
  std::string_view text;  // the word's name, the text run, or the binary data
  bool hasParam = false;
  long long param = 0;     // a word's parameter, of at most ten digits
  unsigned char byte = 0;  // the byte of a HexByte
  char symbol = 0;         // the character after "\" of a Symbol
};

class RtfTokenizer {
 public:
  // Words longer than this are cut there; the letters after the cut are text.
  static constexpr size_t kMaxWordLength = 32;
  // Digits of a parameter past this many are read and dropped.
  static constexpr size_t kMaxParamDigits = 10;

  explicit RtfTokenizer(std::string_view bytes) : in_(bytes) {}

  // Hands every token to sink in order: sink.GroupStart() and sink.GroupEnd() for the braces,
  // sink.Token(token) for the rest. Each returns false to stop. Braces, the commonest tokens
  // of deeply nested input, are taken here, inline, with the offset kept in a register.
  template <typename Sink>
  void Run(Sink& sink) const {
    RtfToken token;
    const std::string_view in = in_;
    size_t at = 0;
    while (at < in.size()) {
      const char c = in[at];
      if (c == '{') {
        ++at;
        if (!sink.GroupStart()) return;
      } else if (c == '}') {
        ++at;
        if (!sink.GroupEnd()) return;
      } else if (c == '\r' || c == '\n') {
        ++at;
      } else if (c == '\\' ? Control(at, token) : Text(at, token)) {
        if (!sink.Token(token)) return;
      }
    }
  }

 private:
  // Read the token that begins at at and move at past it; false when there is none (a
  // backslash that ends the bytes).
  bool Control(size_t& at, RtfToken& token) const;
  bool Text(size_t& at, RtfToken& token) const;

  std::string_view in_;
};

}  // namespace vorn
