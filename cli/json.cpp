#include "cli/json.h"

#include <cstdio>

namespace vok::cli {

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

void JsonObject::Key(std::string_view key) {
  if (!members_.empty()) members_ += ',';
  members_ += JsonString(key);
  members_ += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
  Key(key);
  members_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::AddNumber(std::string_view key, int64_t number) {
  Key(key);
  members_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::AddBool(std::string_view key, bool value) {
  Key(key);
  members_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  members_ += "null";
  return *this;
}

JsonObject& JsonObject::AddJson(std::string_view key, std::string_view value) {
  Key(key);
  members_ += value;
  return *this;
}

JsonObject& JsonObject::Merge(const JsonObject& other) {
  if (other.members_.empty()) return *this;
  if (!members_.empty()) members_ += ',';
  members_ += other.members_;
  return *this;
}

JsonArray& JsonArray::AddJson(std::string_view value) {
  if (!items_.empty()) items_ += ',';
  items_ += value;
  return *this;
}

}  // namespace vok::cli
