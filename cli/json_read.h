#pragma once

// Reading back the JSON Lines this program writes (cli/json.h): enough of
// JSON for one object a line, as a run of several ports reads its children.

#include <map>
#include <string>
#include <vector>

namespace vok::cli {

// The members of one JSON object on a line: strings unescaped (\u00XX as
// the byte XX), other values as their JSON text. Empty for a line that is
// no object.
std::map<std::string, std::string> JsonMembers(const std::string& line);

// The values of a JSON array, each as its text.
std::vector<std::string> ArrayItems(const std::string& array);

}  // namespace vok::cli
