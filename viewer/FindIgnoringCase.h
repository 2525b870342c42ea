// The viewer finds the found text in the shown file by the search's own rule for letter case.
#pragma once

#include <QStringView>

namespace vorn {

// The position of the first occurrence of needle in text, letter case ignored, or -1; the
// occurrence's length in *length. In text read as UTF-8, letters compare by the search's case
// folding ("k" finds KELVIN SIGN, "σ" finds "ς"); text shown as Latin-1 was not UTF-8, and
// there, as in the search, only ASCII letters fold. An empty needle is never found.
qsizetype FindIgnoringCase(QStringView text, QStringView needle, bool utf8, qsizetype* length);

}  // namespace vorn
