#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "app/user_interface.h"

namespace vok {

// The text that the update log receives at the end of every update run: a
// banner with the moment the update file was chosen, then the file's S0
// header texts. One object for the whole program run, owned by the program
// and handed to the Update window's handlers by reference; it outlives the
// window and starts empty.
struct UpdateDescription {
  std::string text;
};

// The local time of a moment, as the procedures stamp their texts with it.
std::tm LocalTime(std::time_t moment);

// "%d. %b %Y (%H:%M:%S)\r\n" with the English month names of the C locale,
// whatever locale the process runs under.
std::string FormatLogDate(const std::tm& time);

// Banner plus S0 texts of the update file; for a file of another format
// (which has no such texts), its name and the time it was last written.
// Empty when the file cannot be opened or read. Never fails otherwise.
std::string BuildUpdateDescription(const std::string& file_name, const std::tm& now);

// Appends length bytes to the file, creating it when missing. 1 when all
// bytes were written, else 0.
int AppendToFile(const void* data, std::size_t length, const std::string& path);

// Shows a text in a log list one line per CR (the character after each CR,
// the LF, is skipped). An empty text adds no line, unless empty_gives_line
// asks for one empty line (the Backup window's way).
void ShowTextInLog(LogList& log, const std::string& text, bool empty_gives_line = false);

// The part of a text up to its first NUL: what the log writers hand on.
std::string UpToFirstNul(const std::string& text);

}  // namespace vok
