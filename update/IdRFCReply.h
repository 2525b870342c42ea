// A numbered text reply of a line-based protocol (FTP): its code and its text lines.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class TIdRFCReply {
 public:
  // The most lines one reply may take: a server that never ends a reply cannot hold the
  // program for ever.
  static constexpr int kMaxReplyLines = 1000;

  int NumericCode = 0;
  std::string TextCode;           // the code as sent
  std::vector<std::string> Text;  // the text lines, without their codes

  // Sets TextCode and NumericCode (the code's integer value, 0 when it is not a number).
  void SetTextCode(std::string_view code);
  void Clear();
  // The text lines, each followed by CR LF (the text of a protocol error).
  std::string FormattedText() const;

  // Reads the lines of one reply from readLine: empty lines before the reply are skipped;
  // a first line "nnn-..." opens a multi-line reply that ends with a line beginning "nnn "
  // (any case) or shorter than 4 bytes. Every line is trimmed of blanks and control bytes.
  // More than kMaxReplyLines lines, empty ones included, raise EIdException.
  static std::vector<std::string> ReadLines(const std::function<std::string()>& readLine);
  // Fills this reply from lines as ReadLines gives them.
  void Parse(const std::vector<std::string>& lines);

  // Text without leading and trailing bytes of codes 0 to 32.
  static std::string_view Trim(std::string_view text);
};

// Parses an integer the way the program's conversions do: optional blanks around, an optional
// sign, decimal digits, within the int range. Returns false for anything else.
bool TryStrToInt(std::string_view text, int& value);

}  // namespace vorn
