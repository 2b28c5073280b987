#include "common/profiletext.h"

#include <vector>

#include "common/textutil.h"

namespace kelm::profile {
namespace {

struct Line {
  std::string key;
  std::string value;
};

struct Section {
  std::string name;
  bool headed = true;  // false: the lines before the first header
  std::vector<Line> lines;
};

// One piece of a line: up to kLinePiece characters, ending after an LF.
std::string_view NextPiece(std::string_view text, std::size_t& pos) {
  std::size_t end = pos + kLinePiece < text.size() ? pos + kLinePiece : text.size();
  const std::size_t lf = text.find('\n', pos);
  if (lf != std::string_view::npos && lf < end) end = lf + 1;
  std::string_view piece = text.substr(pos, end - pos);
  pos = end;
  piece = piece.substr(0, piece.find('\0'));
  for (int i = 0; i < 2 && !piece.empty() && (piece.back() == '\n' || piece.back() == '\r'); ++i)
    piece.remove_suffix(1);
  return piece;
}

std::vector<Section> Parse(std::string_view text) {
  std::vector<Section> sections;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::string_view line = NextPiece(text, pos);
    if (line.empty()) continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections.push_back(Section{std::string(line.substr(1, line.size() - 2)), true, {}});
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string_view key = line.substr(0, eq);
    if (key.empty()) continue;
    if (sections.empty()) sections.push_back(Section{std::string(), false, {}});
    sections.back().lines.push_back(
        Line{std::string(key), eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1))});
  }
  return sections;
}

Section* FindSection(std::vector<Section>& sections, std::string_view name) {
  for (Section& s : sections)
    if (s.headed && EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

}  // namespace

std::string RewriteProfileText(std::string_view text, std::string_view section, std::string_view key,
                               std::string_view value) {
  std::vector<Section> sections = Parse(text);
  Section* target = FindSection(sections, section);
  if (target == nullptr) {
    sections.push_back(Section{std::string(section), true, {}});
    target = &sections.back();
  }
  bool found = false;
  for (Line& l : target->lines) {
    if (EqualsNoCase(l.key, key)) {
      l.value = value;
      found = true;
    }
  }
  if (!found) target->lines.push_back(Line{std::string(key), std::string(value)});

  std::string out;
  out.reserve(text.size() + section.size() + key.size() + value.size() + 16);
  for (const Section& s : sections) {
    if (s.headed) {
      out += '[';
      out += s.name;
      out += "]\r\n";
    }
    for (const Line& l : s.lines) {
      out += l.key;
      out += '=';
      out += l.value;
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string& value) {
  std::vector<Section> sections = Parse(text);
  const Section* s = FindSection(sections, section);
  if (s == nullptr) return false;
  for (const Line& l : s->lines) {
    if (EqualsNoCase(l.key, key)) {
      value = l.value;
      return true;
    }
  }
  return false;
}

}  // namespace kelm::profile
