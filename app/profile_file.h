#pragma once

// Initialisation files (VOKLOAD.INI) read and written with the platform's
// profile rules: sections and keys found without regard to ASCII case, the
// first of a name consulted, a write changing nothing but its one line.

#include <string>
#include <utility>
#include <vector>

namespace vok {

// <windows.h>, included before this header, turns WriteProfileString into
// the system's WriteProfileStringA; the name below is ours.
#ifdef WriteProfileString
#undef WriteProfileString
#endif

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int default_value);
// false when the file cannot be written.
bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& value);
// Every key of the first section of that name with its value (a pair of
// quotes around it removed), in file order; empty without the file.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(const std::string& file,
                                                                  const std::string& section);

}  // namespace vok
