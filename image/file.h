#pragma once

// The file layer of the image, update and backup procedures.
//
// Every failure inside a file object is raised as a FileException. An
// operation catches it around its own file work, abandons the file (Abort:
// closed, no further errors reported) and returns its failure result, so the
// exception never crosses an operation's boundary.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vok {

class FileException : public std::runtime_error {
 public:
  FileException(const std::string& what, const std::string& path, int error);
  const std::string& Path() const { return path_; }
  int Error() const { return error_; }  // errno, 0 when none applies

 private:
  std::string path_;
  int error_;
};

enum class FileMode {
  kRead,             // existing file, read only
  kCreate,           // create or truncate, write only
  kCreateReadWrite,  // create or truncate, read and write
  kReadWrite,        // existing file, read and write
  kOpenAlways,       // read and write, created when missing, contents kept
};

// An unbuffered binary file.
class File {
 public:
  File() = default;
  ~File();  // abandons an open file
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  void Open(const std::string& path, FileMode mode);
  // Takes over an already opened descriptor (the memory image creates its
  // file itself, exclusively).
  void Adopt(int fd, const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  int Descriptor() const { return fd_; }

  // Reads up to n bytes at the current position; fewer only at the end.
  size_t Read(void* buffer, size_t n);
  void Write(const void* data, size_t n);
  // Positioned forms; they leave the current position alone.
  size_t ReadAt(uint64_t offset, void* buffer, size_t n);
  void WriteAt(uint64_t offset, const void* data, size_t n);

  void Seek(uint64_t offset);
  void SeekToEnd();
  uint64_t Position();
  uint64_t Length();
  void SetLength(uint64_t length);
  // Data and metadata on the medium (fsync).
  void Sync();
  // Closes and reports a failure of the close itself.
  void Close();
  // Closes without reporting anything; for the error paths.
  void Abort() noexcept;

 private:
  [[noreturn]] void Fail(const char* what) const;

  int fd_ = -1;
  std::string path_;
};

// A text-mode file: every '\n' written goes to disk as CR LF, on every
// platform; lines read may end in CR LF or LF, and the last one in nothing.
// A Ctrl-Z ends the text, as it does for files written by DOS tools.
class TextFile {
 public:
  enum class LineStatus { kLine, kTooLong, kEnd };

  TextFile() = default;
  ~TextFile();  // abandons an open file: unflushed text is dropped
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // kRead, kCreate or kOpenAlways (which appends).
  void Open(const std::string& path, FileMode mode);
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return file_.Path(); }

  // The next line without its line end. A line longer than limit characters
  // gives kTooLong with its first limit characters in line; the rest of it is
  // skipped without being held in memory.
  LineStatus ReadLine(std::string& line, size_t limit);

  void WriteText(const char* text, size_t n);
  void WriteText(const std::string& text) { WriteText(text.data(), text.size()); }
  void Flush();
  void Sync();  // Flush, then fsync
  void Close();  // Flush and close; reports either failure
  void Abort() noexcept;

 private:
  static constexpr size_t kBufferSize = 64 * 1024;
  bool Fill();

  File file_;
  // Kept apart so that closing a file that was read never writes its
  // read-ahead back.
  std::string in_;   // read-ahead
  std::string out_;  // text not yet written
  size_t read_pos_ = 0;
  bool at_end_ = false;
};

// Makes the entries of a folder (a created or deleted file) durable.
void SyncFolder(const std::string& path);
bool FileExists(const std::string& path);
// Deletes a file; a missing file is an error as well.
void RemoveFile(const std::string& path);
// Puts the file from in the place of to in one step, replacing a file of
// that name.
void ReplaceFile(const std::string& from, const std::string& to);
// Creates a folder of a fresh name from pattern, whose last six characters
// are "XXXXXX" and become the fresh part; only a folder made here and now
// counts, so it is this process's alone. false when none could be made.
bool MakeFreshFolder(std::string& pattern);

}  // namespace vok
