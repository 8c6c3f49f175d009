// The PC crashes: vokloader-cli killed with SIGKILL at random moments of an
// update against voksim on its pseudo-terminal, then "resume" (or
// "update --fresh" when no marker was left) must end with the expected
// memory. And the order on the disk: the command file and its folder are
// synced before the marker is created.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "reliability/scenario.h"
#include "support/temp_dir.h"
#include "support/voksim_process.h"

namespace vok::reliability {
namespace {

namespace fs = std::filesystem;

std::string Beside(const std::string& name) {
  return (fs::path(test::VoksimProcess::BinaryPath()).parent_path() / name).string();
}

// Starts a program in cwd with its output thrown away; its pid.
pid_t Spawn(const std::vector<std::string>& args, const std::string& cwd) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for the end: the exit status, or 128 + the signal.
int Reap(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reap with a hang check: a program still running after limit is killed,
// and the result is -2.
int ReapWithin(pid_t pid, std::chrono::seconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid, SIGKILL);
      Reap(pid);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The names a folder holds.
std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

class CrashBench {
 public:
  explicit CrashBench(const Reference& r) {
    state_ = dir.file("controller.state");
    update_ = dir.file("update.sss");
    fs::create_directory(dir.path() / "UPDATE");
    fs::create_directory(dir.path() / "BACKUP");
    test::WriteUpdateFile(update_, "Crash test\r\n", r.records);
    sim::Options o = test::ProcedureBench::DefaultOptions();
    o.state_file = state_;
    sim::Simulator s(o);
    PrepareOldMemory(s);
    EXPECT_TRUE(s.SaveState());
  }

  std::vector<std::string> Cli(const std::string& device, std::vector<std::string> command) const {
    std::vector<std::string> args{Beside("vokloader-cli"), "--folder", dir.folder(), "--port",
                                  device, "--baud", "115200", "--no-progress"};
    args.insert(args.end(), command.begin(), command.end());
    return args;
  }
  std::vector<std::string> UpdateCommand(const std::string& device, bool fresh) const {
    return fresh ? Cli(device, {"update", "--fresh", update_}) : Cli(device, {"update", update_});
  }
  bool Pending() const { return test::Exists(dir.file("UPDATE/UPDATE.SEM")); }
  reliability::Memory Contents() const {
    sim::Options o = test::ProcedureBench::DefaultOptions();
    sim::Simulator s(o);
    std::string error;
    EXPECT_TRUE(s.LoadState(state_, error)) << error;
    return Snapshot(s);
  }
  const std::string& state() const { return state_; }

  test::TempDir dir;

 private:
  std::string state_, update_;
};

// How long an undisturbed update of r takes here, in seconds.
double UndisturbedUpdate(const Reference& r) {
  CrashBench b(r);
  test::VoksimProcess sim({"--state", b.state()});
  EXPECT_TRUE(sim.started());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Reap(Spawn(b.UpdateCommand(sim.device(), false), b.dir.folder())), 0);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_TRUE(b.Contents() == Expected(r));
  return s;
}

TEST(VOK_SUITE, CliKilledAtRandomMomentsThenResumed) {
  const Reference& r = References()[1];  // across the sector 1/2 boundary
  const double full_s = UndisturbedUpdate(r);

  const int runs = VOK_RELIABILITY_LONG ? 50 : 3;
  std::mt19937 rng(20261208);
  int ok = 0, killed = 0, pending = 0;
  for (int run = 1; run <= runs; ++run) {
    CrashBench b(r);
    test::VoksimProcess sim({"--state", b.state()});
    ASSERT_TRUE(sim.started());
    // From the start of the program (planning included) to its end.
    const auto delay = std::chrono::microseconds(
        static_cast<long>(std::uniform_real_distribution<double>(0.0, full_s)(rng) * 1e6));
    pid_t pid = Spawn(b.UpdateCommand(sim.device(), false), b.dir.folder());
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    if (Reap(pid) == 128 + SIGKILL) ++killed;
    const bool marker = b.Pending();
    if (marker) ++pending;
    const int status = Reap(Spawn(marker ? b.Cli(sim.device(), {"resume"})
                                         : b.UpdateCommand(sim.device(), true),
                                  b.dir.folder()));
    EXPECT_EQ(sim.Stop(), 0);
    const bool good = status == 0 && !b.Pending() && b.Contents() == Expected(r);
    EXPECT_TRUE(good) << "run " << run << " killed after " << delay.count() << " us"
                      << (marker ? " (resumed)" : " (fresh)") << ", status " << status;
    if (good) ++ok;
  }
  std::printf("PC crash: %d of %d runs ended with the expected memory (%d killed mid-run, %d "
              "with the marker left; full update %.2f s)\n",
              ok, runs, killed, pending, full_s);
}

// Ctrl-C (or SIGTERM) at a random moment: the program ends at its next
// safe point with 130 (143), leaving nothing but the journal: no memory
// image, a command file only beside its marker, and that one resumable to
// the expected memory. A run that had finished all the same says 0.
TEST(VOK_SUITE, CliStoppedBySignalAtRandomMomentsLeavesOnlyTheJournal) {
  const Reference& r = References()[1];
  const double full_s = UndisturbedUpdate(r);
  const int runs = VOK_RELIABILITY_LONG ? 50 : 3;
  std::mt19937 rng(20261209);
  int ok = 0, stopped = 0, pending = 0;
  double slowest_s = 0;
  for (int run = 1; run <= runs; ++run) {
    CrashBench b(r);
    test::VoksimProcess sim({"--state", b.state()});
    ASSERT_TRUE(sim.started());
    const int signo = run % 5 == 0 ? SIGTERM : SIGINT;
    const auto delay = std::chrono::microseconds(
        static_cast<long>(std::uniform_real_distribution<double>(0.0, full_s)(rng) * 1e6));
    pid_t pid = Spawn(b.UpdateCommand(sim.device(), false), b.dir.folder());
    std::this_thread::sleep_for(delay);
    ::kill(pid, signo);
    const auto signalled = std::chrono::steady_clock::now();
    const int status = ReapWithin(pid, std::chrono::seconds(10));
    slowest_s = std::max(
        slowest_s,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count());
    const bool marker = b.Pending();
    if (status == 128 + signo) ++stopped;
    if (marker) ++pending;
    // Besides the log, the journal only, and that only in a piece.
    std::set<std::string> left = Names(b.dir.path() / "UPDATE");
    left.erase("UPDATE.LOG");
    const std::set<std::string> journal{"UPDATE.CMD", "UPDATE.SEM"};
    const bool clean = left == (marker ? journal : std::set<std::string>{}) &&
                       Names(b.dir.path() / "BACKUP").empty();
    const bool status_right = status == 128 + signo || (status == 0 && !marker);
    const int next = Reap(Spawn(marker ? b.Cli(sim.device(), {"resume"})
                                       : b.UpdateCommand(sim.device(), false),
                                b.dir.folder()));
    EXPECT_EQ(sim.Stop(), 0);
    const bool good = clean && status_right && next == 0 && !b.Pending() &&
                      b.Contents() == Expected(r);
    EXPECT_TRUE(good) << "run " << run << ": signal " << signo << " after " << delay.count()
                      << " us, status " << status << ", left " << left.size()
                      << " files, marker " << marker << ", next run " << next;
    if (good) ++ok;
  }
  std::printf("signals: %d of %d runs left only the journal and ended with the expected memory "
              "(%d stopped at a safe point, %d with the marker left; slowest end %.2f s after "
              "the signal; full update %.2f s)\n",
              ok, runs, stopped, pending, slowest_s, full_s);
}

// strace sees every call the program makes: the command file's descriptor
// and the UPDATE folder's are fsync'ed before UPDATE.SEM is opened for
// creation.
TEST(VOK_SUITE, CommandFileAndFolderSyncedBeforeTheMarker) {
  ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0) << "strace is missing (scripts/install-deps installs it)";
  CrashBench b(References()[0]);
  test::VoksimProcess sim({"--state", b.state()});
  ASSERT_TRUE(sim.started());
  const std::string trace = b.dir.file("strace.txt");
  std::vector<std::string> args{"/usr/bin/strace", "-f", "-qq", "-o", trace,
                                "-e", "trace=openat,open,creat,fsync,fdatasync,close",
                                // LeakSanitizer cannot run under a tracer.
                                "-E", "ASAN_OPTIONS=detect_leaks=0"};
  for (const auto& a : b.UpdateCommand(sim.device(), false)) args.push_back(a);
  if (!fs::exists(args[0])) args[0] = "/bin/strace";
  ASSERT_EQ(Reap(Spawn(args, b.dir.folder())), 0);
  EXPECT_EQ(sim.Stop(), 0);

  std::ifstream in(trace);
  std::string line;
  const std::regex open_re(R"re(open(?:at)?\((?:[^,]*, )?"([^"]*)", ([^)]*)\) = (\d+))re");
  const std::regex sync_re(R"re((?:fsync|fdatasync)\((\d+)\) += 0)re");
  const std::regex close_re(R"re(close\((\d+)\))re");
  std::map<int, std::string> fds;
  bool cmd_synced = false, dir_synced = false, marker_created = false;
  bool cmd_before = false, dir_before = false;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, open_re)) {
      const std::string path = m[1];
      fds[std::stoi(m[3])] = path;
      if (path.ends_with("UPDATE.SEM") && m[2].str().find("O_CREAT") != std::string::npos &&
          !marker_created) {
        marker_created = true;
        cmd_before = cmd_synced;
        dir_before = dir_synced;
      }
    } else if (std::regex_search(line, m, sync_re)) {
      const std::string& path = fds[std::stoi(m[1])];
      if (path.ends_with("UPDATE.CMD")) cmd_synced = true;
      if (fs::path(path).filename() == "UPDATE" ||
          (path.ends_with("UPDATE/") || path.ends_with("UPDATE/."))) dir_synced = true;
    } else if (std::regex_search(line, m, close_re)) {
      fds.erase(std::stoi(m[1]));
    }
  }
  EXPECT_TRUE(marker_created) << "no creation of UPDATE.SEM in the trace";
  EXPECT_TRUE(cmd_before) << "UPDATE.CMD not synced before the marker";
  EXPECT_TRUE(dir_before) << "the UPDATE folder not synced before the marker";
}

}  // namespace
}  // namespace vok::reliability
