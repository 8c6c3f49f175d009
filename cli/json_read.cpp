#include "cli/json_read.h"

#include <cstdlib>

namespace vok::cli {

namespace {

// One past the end of the value that starts at i.
size_t SkipJsonValue(const std::string& s, size_t i) {
  if (i >= s.size()) return i;
  if (s[i] == '"') {
    for (++i; i < s.size() && s[i] != '"'; ++i) {
      if (s[i] == '\\') ++i;
    }
    return i + 1;
  }
  if (s[i] == '{' || s[i] == '[') {
    int depth = 0;
    for (; i < s.size(); ++i) {
      if (s[i] == '"') {
        i = SkipJsonValue(s, i) - 1;
      } else if (s[i] == '{' || s[i] == '[') {
        ++depth;
      } else if ((s[i] == '}' || s[i] == ']') && --depth == 0) {
        return i + 1;
      }
    }
    return i;
  }
  while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']') ++i;
  return i;
}

std::string JsonText(const std::string& quoted) {
  std::string text;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    char c = quoted[i];
    if (c != '\\' || i + 2 >= quoted.size()) {
      text += c;
      continue;
    }
    c = quoted[++i];
    switch (c) {
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case 't': text += '\t'; break;
      case 'b': text += '\b'; break;
      case 'f': text += '\f'; break;
      case 'u':
        // The writer's \u00XX stands for the byte XX.
        if (i + 4 < quoted.size()) {
          text += static_cast<char>(std::strtoul(quoted.substr(i + 1, 4).c_str(), nullptr, 16) & 0xFF);
          i += 4;
        }
        break;
      default: text += c;
    }
  }
  return text;
}

}  // namespace

std::vector<std::string> ArrayItems(const std::string& array) {
  std::vector<std::string> items;
  for (size_t i = 1; i < array.size();) {
    while (i < array.size() && (array[i] == ' ' || array[i] == ',')) ++i;
    if (i >= array.size() || array[i] == ']') break;
    const size_t end = SkipJsonValue(array, i);
    items.push_back(array.substr(i, end - i));
    i = end;
  }
  return items;
}

std::map<std::string, std::string> JsonMembers(const std::string& line) {
  std::map<std::string, std::string> members;
  size_t i = line.find_first_not_of(' ');
  if (i == std::string::npos || line[i] != '{') return members;
  ++i;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == ',')) ++i;
    if (i >= line.size() || line[i] == '}') break;
    if (line[i] != '"') return {};
    const size_t key_end = SkipJsonValue(line, i);
    const std::string key = JsonText(line.substr(i, key_end - i));
    i = key_end;
    while (i < line.size() && (line[i] == ' ' || line[i] == ':')) ++i;
    const size_t value_end = SkipJsonValue(line, i);
    std::string value = line.substr(i, value_end - i);
    if (!value.empty() && value[0] == '"') value = JsonText(value);
    members[key] = value;
    i = value_end;
  }
  return members;
}

}  // namespace vok::cli
