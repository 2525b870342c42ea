#include "ResultFormats.h"

#include <charconv>

#include "JsonText.h"

namespace vorn {

namespace {

void AppendNumber(std::string& out, size_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, end.ptr);
}

// A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line break.
void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (const char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

}  // namespace

std::string_view ResultHeader(ResultFormat format) {
  return format == ResultFormat::Csv ? "path,line,column,text\r\n" : "";
}

void AppendResultRecord(std::string& out, ResultFormat format, const SearchHit& hit) {
  switch (format) {
    case ResultFormat::Lines:
      AppendResultLine(out, hit);
      out.push_back('\n');
      return;
    case ResultFormat::Csv:
      AppendCsvField(out, hit.path);
      out.push_back(',');
      AppendNumber(out, hit.lineIndex + 1);
      out.push_back(',');
      if (!hit.matches.empty()) AppendNumber(out, hit.matches.front().begin + 1);
      out.push_back(',');
      AppendCsvField(out, hit.text);
      out.append("\r\n");
      return;
    case ResultFormat::JsonLines:
      out.append("{\"type\":\"match\",\"path\":");
      AppendJsonData(out, hit.path);
      out.append(",\"line\":");
      AppendNumber(out, hit.lineIndex);
      out.append(",\"text\":");
      AppendJsonData(out, hit.text);
      out.append(",\"matches\":[");
      for (size_t i = 0; i < hit.matches.size(); ++i) {
        if (i > 0) out.push_back(',');
        out.append("{\"start\":");
        AppendNumber(out, hit.matches[i].begin);
        out.append(",\"end\":");
        AppendNumber(out, hit.matches[i].end);
        out.push_back('}');
      }
      out.append("]}\n");
      return;
  }
}

}  // namespace vorn
