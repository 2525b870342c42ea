// The pieces of vorn-find's JSON output, written straight into a string: strings escaped as
// JSON wants them, and file bytes given as text where they are UTF-8 and as base64 where not.
#pragma once

#include <string>
#include <string_view>

namespace vorn {

// text, which must be valid UTF-8, as a quoted JSON string: quote, backslash and the
// controls (C0, DEL, C1 and the bidirectional ones) escaped, everything else as it is.
void AppendJsonString(std::string& out, std::string_view text);

// Bytes as standard base64 with padding.
void AppendBase64(std::string& out, std::string_view bytes);

// {"text":"..."} when bytes are valid UTF-8, {"bytes":"<base64>"} when they are not, so a
// path or line that is not UTF-8 comes back byte for byte.
void AppendJsonData(std::string& out, std::string_view bytes);

}  // namespace vorn
