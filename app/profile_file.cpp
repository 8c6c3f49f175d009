#include "app/profile_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "link/ascii.h"

namespace vok {

namespace {

// ---------------------------------------------------------------------------
// The initialisation-file text, kept as lines with their own line ends so
// that a write changes nothing but the one line it is about.

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Names compare without regard to the case of ASCII letters; other bytes
// compare as they are (the text is never decoded).
bool SameName(std::string_view a, std::string_view b) { return SameNoCase(a, b); }

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

struct Line {
  std::string text;  // without its line end
  std::string eol;   // "\r\n", "\n", or "" for a last line without one
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

ParsedLine Parse(std::string_view text) {
  ParsedLine p;
  std::string_view t = Trim(text);
  if (t.empty() || t.front() == ';') return p;  // blank line or comment
  if (t.front() == '[') {
    size_t close = t.rfind(']');
    if (close != std::string_view::npos) {
      p.kind = LineKind::Section;
      p.name = Trim(t.substr(1, close - 1));
      return p;
    }
    // A '[' without its ']' is no section header; it may still be a key.
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::Key;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

class ProfileText {
 public:
  explicit ProfileText(const std::string& bytes) {
    size_t pos = 0;
    // A byte-order mark left by an editor must not hide the first section.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      bom_ = bytes.substr(0, 3);
      pos = 3;
    }
    while (pos < bytes.size()) {
      size_t nl = bytes.find('\n', pos);
      Line line;
      if (nl == std::string::npos) {
        line.text = bytes.substr(pos);
        pos = bytes.size();
      } else {
        size_t end = nl;
        if (end > pos && bytes[end - 1] == '\r') --end;
        line.text = bytes.substr(pos, end - pos);
        line.eol = bytes.substr(end, nl + 1 - end);
        pos = nl + 1;
      }
      lines_.push_back(std::move(line));
    }
    for (const Line& l : lines_) {
      if (!l.eol.empty()) {
        eol_ = l.eol;
        break;
      }
    }
  }

  std::string Bytes() const {
    std::string out = bom_;
    for (const Line& l : lines_) {
      out += l.text;
      out += l.eol;
    }
    return out;
  }

  // Index of the first header of the section, if any. Like the platform,
  // only the first section of a name is consulted.
  std::optional<size_t> FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
      ParsedLine p = Parse(lines_[i].text);
      if (p.kind == LineKind::Section && SameName(p.name, section)) return i;
    }
    return std::nullopt;
  }

  // One past the last line of the section that starts at header.
  size_t SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && Parse(lines_[i].text).kind != LineKind::Section) ++i;
    return i;
  }

  std::optional<size_t> FindKey(size_t header, std::string_view key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
      ParsedLine p = Parse(lines_[i].text);
      if (p.kind == LineKind::Key && SameName(p.name, key)) return i;
    }
    return std::nullopt;
  }

  std::optional<std::string> Value(std::string_view section, std::string_view key) const {
    std::optional<size_t> header = FindSection(section);
    if (!header) return std::nullopt;
    std::optional<size_t> line = FindKey(*header, key);
    if (!line) return std::nullopt;
    return std::string(Parse(lines_[*line].text).value);
  }

  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    std::optional<size_t> header = FindSection(section);
    if (!header) return out;
    size_t end = SectionEnd(*header);
    for (size_t i = *header + 1; i < end; ++i) {
      ParsedLine p = Parse(lines_[i].text);
      if (p.kind == LineKind::Key) out.emplace_back(std::string(p.name), std::string(p.value));
    }
    return out;
  }

  void Set(std::string_view section, std::string_view key, std::string_view value) {
    std::optional<size_t> header = FindSection(section);
    if (!header) {
      // A new section goes at the end, set off from the one before it.
      if (!lines_.empty()) {
        if (lines_.back().eol.empty()) lines_.back().eol = eol_;
        if (!Trim(lines_.back().text).empty()) lines_.push_back({"", eol_});
      }
      lines_.push_back({"[" + std::string(section) + "]", eol_});
      lines_.push_back({std::string(key) + "=" + std::string(value), eol_});
      return;
    }
    if (std::optional<size_t> at = FindKey(*header, key)) {
      // The key keeps the spelling it has in the file.
      std::string name(Parse(lines_[*at].text).name);
      lines_[*at].text = name + "=" + std::string(value);
      return;
    }
    // Append behind the section's last key, before the blank lines and
    // comments that lead into the next section.
    size_t insert = *header + 1;
    size_t end = SectionEnd(*header);
    for (size_t i = *header + 1; i < end; ++i) {
      if (Parse(lines_[i].text).kind == LineKind::Key) insert = i + 1;
    }
    if (lines_[insert - 1].eol.empty()) lines_[insert - 1].eol = eol_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert),
                  Line{std::string(key) + "=" + std::string(value), eol_});
  }

 private:
  std::string bom_;
  std::vector<Line> lines_;
  std::string eol_ = "\r\n";  // a new file gets CR LF
};

// The whole file, or nothing when it cannot be read (missing included).
std::optional<std::string> ReadFileBytes(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

// Replaces the file's content in place, so that its owner, its mode and any
// link to it stay as they are; a file that may not be written is refused
// here and not replaced behind its back.
bool WriteFileBytes(const std::string& file, const std::string& bytes, bool exists) {
  std::fstream f;
  if (exists) {
    f.open(file, std::ios::in | std::ios::out | std::ios::binary);
  } else {
    f.open(file, std::ios::out | std::ios::binary);
  }
  if (!f) return false;
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.flush();
  bool ok = static_cast<bool>(f);
  f.close();
  if (f.fail()) ok = false;
  if (ok && exists) {
    std::error_code ec;
    std::filesystem::resize_file(file, bytes.size(), ec);
    if (ec) ok = false;
  }
  return ok;
}

// The decimal integer the text begins with: blanks, an optional sign, the
// digits. Out-of-range values wrap to 32 bits as the platform's do.
int ParseProfileInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  uint32_t v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10u + static_cast<uint32_t>(s[i] - '0');
    ++i;
  }
  if (negative) v = 0u - v;
  return static_cast<int>(v);
}

// One pair of matching quotes around a value is not part of it.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

}  // namespace

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int default_value) {
  std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes) return default_value;
  std::optional<std::string> value = ProfileText(*bytes).Value(section, key);
  if (!value) return default_value;
  std::string_view v = Unquote(*value);
  if (v.empty()) return default_value;
  return ParseProfileInt(v);
}

bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& value) {
  std::error_code ec;
  const bool exists = std::filesystem::exists(file, ec);
  if (ec) return false;
  std::string old;
  if (exists) {
    std::optional<std::string> bytes = ReadFileBytes(file);
    // A file that exists but cannot be read is not overwritten blindly.
    if (!bytes) return false;
    old = std::move(*bytes);
  }
  ProfileText text(old);
  text.Set(section, key, value);
  return WriteFileBytes(file, text.Bytes(), exists);
}

std::vector<std::pair<std::string, std::string>> ReadProfileSection(const std::string& file,
                                                                  const std::string& section) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::optional<std::string> bytes = ReadFileBytes(file);
  if (!bytes) return entries;
  for (auto& [name, value] : ProfileText(*bytes).Entries(section))
    entries.emplace_back(std::move(name), std::string(Unquote(value)));
  return entries;
}

}  // namespace vok
