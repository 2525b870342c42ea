// What a match is replaced with: the replacement text as it is, or, for a regular expression,
// PCRE2's substitution syntax ("$1", "${name}", "$$") expanded for each match. The matches
// of a line are those the search finds: leftmost first, never overlapping, and for a pattern
// where PCRE2's global substitution places them, empty matches included.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LineMatcher.h"
#include "SearchHit.h"

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;

namespace vorn {

class Substitution {
 public:
  // Null, with *error saying why, for a pattern or a replacement that cannot be used.
  static std::unique_ptr<Substitution> Make(const SearchOptions& options, std::string replacement,
                                            std::string* error);
  ~Substitution();
  Substitution(const Substitution&) = delete;
  Substitution& operator=(const Substitution&) = delete;

  const LineMatcher& Matcher() const { return matcher_; }
  // A pattern's matches are found here, in PCRE2's global substitution's order (empty ones
  // included); plain text takes the search's ranges as they come.
  bool FindsOwnMatches() const { return code_ != nullptr; }
  const std::string& Replacement() const { return replacement_; }

  // Appends every match of a whole line that is a hit, as the search finds them.
  void FindMatches(std::string_view line, std::vector<MatchRange>& out) const;
  // The text the match at range of line is replaced with; false when the pattern does not
  // match there (the line is not the one the match was found in).
  bool Expand(std::string_view line, MatchRange range, std::string& out) const;

 private:
  Substitution(const SearchOptions& options, std::string replacement);
  int MatchAt(std::string_view line, size_t from, unsigned flags) const;
  bool Stands(std::string_view line, size_t begin, size_t end) const;

  LineMatcher matcher_;
  std::string replacement_;
  pcre2_real_code_8* code_ = nullptr;
  pcre2_real_match_data_8* data_ = nullptr;
};

}  // namespace vorn
