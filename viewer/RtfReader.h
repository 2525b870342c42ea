// A small reader of rich text (RTF) into a text document: groups, paragraphs, line breaks
// and tabs, bold/italic/underline, the font and colour tables, font sizes, highlight, list
// numbers and bullets, and the \'hh and \uN escapes. \'hh bytes are read in the code page
// of the current font (\fcharsetN, \cpgN) or else of the document (\ansicpgN), double-byte
// pages included, with Windows-1252 as the fallback. Destinations it does not show (pictures,
// the info block, style sheets, "\*" groups, field instructions ...) are skipped.
//
// Crafted input stays cheap: sizes are clamped to what word processors allow, the number of
// distinct fonts is bounded, and groups nested beyond a fixed depth are read as if flat, so
// time and memory follow the text shown. The bytes are cut into tokens by RtfTokenizer; this
// unit gives them their meaning.
#pragma once

#include <string_view>

class QTextDocument;

namespace vorn {

// RTF begins with "{\rtf".
bool LooksLikeRtf(std::string_view bytes);

// Replaces the whole content of document with the formatted text of the RTF bytes; paragraphs
// and line breaks become blocks. Returns false, leaving the document as it was, when the bytes
// are not RTF. Damaged RTF (unbalanced groups, a cut file) shows what could be read.
bool ReadRtf(std::string_view bytes, QTextDocument& document);

}  // namespace vorn
