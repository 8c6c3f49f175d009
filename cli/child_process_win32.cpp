#include "cli/child_process.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "app/app_folder.h"

namespace vok::cli {

std::string OwnProgram() { return ExecutableFolder() + "vokloader-cli.exe"; }

namespace {

// One argument as the C runtime's parser takes it apart again.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    q.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  q.append(backslashes * 2, '\\');
  return q + "\"";
}

// Lines of all children, read by a thread per child, handed to the caller's
// thread.
struct LineQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::pair<size_t, std::string>> lines;
  size_t open = 0;
};

void ReadLines(HANDLE pipe, size_t child, LineQueue& queue) {
  std::string pending;
  char buf[4096];
  DWORD n = 0;
  while (::ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
    pending.append(buf, n);
    std::lock_guard<std::mutex> lock(queue.mutex);
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      queue.lines.emplace_back(child, std::move(line));
      pending.erase(0, end + 1);
    }
    queue.ready.notify_one();
  }
  ::CloseHandle(pipe);
  std::lock_guard<std::mutex> lock(queue.mutex);
  if (!pending.empty()) queue.lines.emplace_back(child, pending);
  --queue.open;
  queue.ready.notify_one();
}

}  // namespace

std::vector<int> RunChildren(const std::string& program,
                             const std::vector<std::vector<std::string>>& args,
                             const ChildEvents& events) {
  LineQueue queue;
  std::vector<HANDLE> processes(args.size(), nullptr);
  std::vector<std::thread> readers;
  for (size_t i = 0; i < args.size(); ++i) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) continue;
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE null_in = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr);
    std::string command_line = Quoted(program);
    for (const std::string& a : args[i]) command_line += " " + Quoted(a);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                          0, nullptr, nullptr, &startup, &info);
    ::CloseHandle(write_end);
    if (null_in != INVALID_HANDLE_VALUE) ::CloseHandle(null_in);
    if (!started) {
      ::CloseHandle(read_end);
      continue;
    }
    ::CloseHandle(info.hThread);
    processes[i] = info.hProcess;
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      ++queue.open;
    }
    readers.emplace_back(ReadLines, read_end, i, std::ref(queue));
  }
  // A console's Ctrl-C reaches every child by itself: nothing to pass on.
  for (;;) {
    std::deque<std::pair<size_t, std::string>> lines;
    bool done = false;
    {
      std::unique_lock<std::mutex> lock(queue.mutex);
      queue.ready.wait_for(lock, std::chrono::milliseconds(events.tick_ms),
                           [&queue] { return !queue.lines.empty() || queue.open == 0; });
      lines.swap(queue.lines);
      done = queue.open == 0;
    }
    for (auto& [child, line] : lines) {
      if (events.line) events.line(child, line);
    }
    if (events.tick) events.tick();
    if (done) break;
  }
  for (std::thread& t : readers) t.join();
  std::vector<int> statuses;
  for (HANDLE process : processes) {
    if (!process) {
      statuses.push_back(-1);
      continue;
    }
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    // An exception code (a crash) is no exit status of ours: 255.
    statuses.push_back(::GetExitCodeProcess(process, &code) ? static_cast<int>(code <= 255 ? code : 255) : -1);
    ::CloseHandle(process);
  }
  return statuses;
}

}  // namespace vok::cli
