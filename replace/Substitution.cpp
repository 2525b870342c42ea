#include "Substitution.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

namespace vorn {

namespace {

// The numbers and names a replacement refers to, each checked against the pattern: PCRE2
// itself says so only when a match is expanded, and a replace must refuse before its first.
bool CheckReferences(pcre2_code* code, std::string_view text, std::string* error) {
  uint32_t groups = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
  const auto isName = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '$') continue;
    if (++at == text.size()) {
      *error = "the replacement ends in a lone \"$\" (write \"$$\" for a dollar sign)";
      return false;
    }
    if (text[at] == '$') continue;
    std::string name;
    if (text[at] == '{') {
      const size_t close = text.find('}', at);
      if (close == std::string_view::npos) {
        *error = "the replacement has \"${\" without its \"}\"";
        return false;
      }
      name = text.substr(at + 1, close - at - 1);
      at = close;
    } else {
      while (at < text.size() && isName(text[at])) name += text[at++];
      --at;
    }
    if (name.empty() || !std::all_of(name.begin(), name.end(), isName)) {
      *error = "the replacement has a \"$\" that names no group (write \"$$\" for a dollar sign)";
      return false;
    }
    if (name.find_first_not_of("0123456789") == std::string::npos) {
      if (name.size() > 5 || std::stoul(name) > groups) {
        *error = "the replacement refers to group " + name + ", which the pattern does not have";
        return false;
      }
    } else if (pcre2_substring_number_from_name(code, reinterpret_cast<PCRE2_SPTR>(name.c_str())) <
               0) {
      *error = "the replacement refers to the group \"" + name + "\", which the pattern lacks";
      return false;
    }
  }
  return true;
}

}  // namespace

Substitution::Substitution(const SearchOptions& options, std::string replacement)
    : matcher_(options), replacement_(std::move(replacement)) {}

Substitution::~Substitution() {
  pcre2_match_data_free(data_);
  pcre2_code_free(code_);
}

std::unique_ptr<Substitution> Substitution::Make(const SearchOptions& options,
                                                 std::string replacement, std::string* error) {
  std::unique_ptr<Substitution> made(new Substitution(options, std::move(replacement)));
  if (!options.regex) {
    if (made->matcher_.NeverHits()) {
      *error = "the text to replace is empty or holds a line break";
      return nullptr;
    }
    return made;
  }
  // Compiled as the search compiles it, so a range it found matches here again.
  uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_UCP;
  if (!options.matchCase) flags |= PCRE2_CASELESS;
  int code = 0;
  PCRE2_SIZE offset = 0;
  made->code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(options.query.data()),
                              options.query.size(), flags, &code, &offset, nullptr);
  if (!made->code_) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(code, message, sizeof message);
    *error = "invalid regular expression at position " + std::to_string(offset + 1) + ": " +
             reinterpret_cast<const char*>(message);
    return nullptr;
  }
  pcre2_jit_compile(made->code_, PCRE2_JIT_COMPLETE);
  made->data_ = pcre2_match_data_create_from_pattern(made->code_, nullptr);
  if (!CheckReferences(made->code_, made->replacement_, error)) return nullptr;
  return made;
}

int Substitution::MatchAt(std::string_view line, size_t from, unsigned flags) const {
  return pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), from, flags,
                     data_, nullptr);
}

bool Substitution::Stands(std::string_view line, size_t begin, size_t end) const {
  if (!matcher_.Options().wholeWord) return true;
  return StandsWhole(line, begin, end);
}

void Substitution::FindMatches(std::string_view line, std::vector<MatchRange>& out) const {
  if (!matcher_.IsHit(line)) return;
  if (!code_) {
    matcher_.Matches(line, out);
    return;
  }
  // As a global substitution goes: after an empty match the same place is tried again for a
  // match that is not empty, and only then the next character.
  size_t from = 0;
  unsigned flags = 0;
  while (from <= line.size()) {
    const int rc = MatchAt(line, from, flags);
    if (rc < 0) {
      if (rc != PCRE2_ERROR_NOMATCH || flags == 0 || from == line.size()) return;
      ++from;
      while (from < line.size() && (static_cast<unsigned char>(line[from]) & 0xC0) == 0x80) ++from;
      flags = 0;
      continue;
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data_);
    const size_t begin = ovector[0], end = ovector[1];
    if (end < begin) return;  // \K past the end: PCRE2 refuses to substitute it too
    if (Stands(line, begin, end)) {
      out.push_back({begin, end});
      from = end;
      flags = begin == end ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
    } else {
      from = begin + 1;
      while (from < line.size() && (static_cast<unsigned char>(line[from]) & 0xC0) == 0x80) ++from;
      flags = 0;
    }
  }
}

bool Substitution::Expand(std::string_view line, MatchRange range, std::string& out) const {
  if (!code_) {
    out = replacement_;
    return true;
  }
  if (range.begin > line.size()) return false;
  int rc = MatchAt(line, range.begin, PCRE2_ANCHORED);
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data_);
  if (rc >= 0 && ovector[1] != range.end)
    rc = MatchAt(line, range.begin, PCRE2_ANCHORED | PCRE2_NOTEMPTY_ATSTART);
  if (rc < 0 || ovector[0] != range.begin || ovector[1] != range.end) return false;
  out.resize(replacement_.size() + 64);
  for (;;) {
    PCRE2_SIZE size = out.size();
    rc =
        pcre2_substitute(code_, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), range.begin,
                         PCRE2_SUBSTITUTE_MATCHED | PCRE2_SUBSTITUTE_REPLACEMENT_ONLY |
                             PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | PCRE2_SUBSTITUTE_UNSET_EMPTY,
                         data_, nullptr, reinterpret_cast<PCRE2_SPTR>(replacement_.data()),
                         replacement_.size(), reinterpret_cast<PCRE2_UCHAR*>(out.data()), &size);
    if (rc == PCRE2_ERROR_NOMEMORY) {
      out.resize(size);
      continue;
    }
    if (rc < 0) return false;
    out.resize(size);
    return true;
  }
}

}  // namespace vorn
