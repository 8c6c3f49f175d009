#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// JSON text for the --json output. The system's texts are bytes, not UTF-8:
// every byte above 0x7F is written as the code point of the same number
// (\u0080 to \u00ff), as Latin-1 reads it, so no byte is lost or guessed at.
namespace vok::cli {

// The quoted, escaped string.
std::string JsonString(std::string_view bytes);

// Members of one object, in the order added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view text);
  JsonObject& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
  JsonObject& AddNumber(std::string_view key, int64_t number);
  JsonObject& AddBool(std::string_view key, bool value);
  JsonObject& AddNull(std::string_view key);
  // value is JSON text already (an object, an array).
  JsonObject& AddJson(std::string_view key, std::string_view value);
  // Appends the members of another object.
  JsonObject& Merge(const JsonObject& other);

  std::string Text() const { return "{" + members_ + "}"; }
  bool Empty() const { return members_.empty(); }

 private:
  void Key(std::string_view key);
  std::string members_;
};

// "[a,b]" of JSON texts.
class JsonArray {
 public:
  JsonArray& AddJson(std::string_view value);
  std::string Text() const { return "[" + items_ + "]"; }

 private:
  std::string items_;
};

}  // namespace vok::cli
