// Where the program keeps its files: beside a portable copy, in the user's
// own folder for an installed one.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/app_folder.h"
#include "app/settings.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Env = std::map<std::string, std::string>;

EnvironmentLookup Lookup(const Env& env) {
  return [env](const std::string& name) -> std::optional<std::string> {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
}

TEST(AppFolder, UserDataFolderFromTheEnvironment) {
  struct Case {
    Env env;
    std::string expected;
  };
#ifdef _WIN32
  const std::string local = "C:\\Users\\tech\\AppData\\Local";
  const Case cases[] = {
      {{{"LOCALAPPDATA", local}}, local + "\\VOK Loader\\"},
      {{{"LOCALAPPDATA", local + "\\"}}, local + "\\VOK Loader\\"},
      {{{"LOCALAPPDATA", ""}, {"USERPROFILE", "C:\\Users\\tech"}}, ""},
      {{}, ""},
  };
#else
  const Case cases[] = {
      {{{"XDG_DATA_HOME", "/srv/data"}, {"HOME", "/home/tech"}}, "/srv/data/vokloader/"},
      {{{"XDG_DATA_HOME", "/srv/data//"}}, "/srv/data/vokloader/"},
      {{{"XDG_DATA_HOME", ""}, {"HOME", "/home/tech"}}, "/home/tech/.local/share/vokloader/"},
      // A relative XDG_DATA_HOME does not count.
      {{{"XDG_DATA_HOME", "data"}, {"HOME", "/home/tech/"}}, "/home/tech/.local/share/vokloader/"},
      {{{"HOME", "/"}}, "/.local/share/vokloader/"},
      {{{"HOME", "tech"}}, ""},
      {{{"HOME", ""}}, ""},
      {{}, ""},
  };
#endif
  for (const Case& c : cases) {
    EXPECT_EQ(UserDataFolder(Lookup(c.env)), c.expected) << testing::PrintToString(c.env);
  }
}

#ifndef _WIN32
// Runs f as the unprivileged user "nobody" when this process is root, whom
// permission bits do not stop; as anyone else it runs here and the bits
// stop this user. Its text comes back through a pipe.
std::string AsOrdinaryUser(const std::function<std::string()>& f) {
  if (::geteuid() != 0) return f();
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(3);
    std::string text = f();
    ssize_t n = ::write(fds[1], text.data(), text.size());
    _exit(n == static_cast<ssize_t>(text.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return text;
}

TEST(AppFolder, PortableWhereTheUserMayWriteOrASettingsFileLies) {
  TempDir dir;
  fs::permissions(dir.path(), fs::perms(0755));  // another user may look in
  const std::string exe = dir.folder() + "bin/";
  fs::create_directory(exe);
  const Env env{{"HOME", "/home/tech"}};
  // The choice, and " writable" when the folder is the user's to write.
  auto as_user = [&exe](const Env& e) {
    return AsOrdinaryUser([&exe, e] {
      return ChooseApplicationFolder(exe, Lookup(e)) + (FolderWritable(exe) ? " writable" : "");
    });
  };
  EXPECT_EQ(ChooseApplicationFolder(exe, Lookup(env)), exe);
  fs::permissions(exe, fs::perms(0555));
  EXPECT_EQ(as_user(env), "/home/tech/.local/share/vokloader/");
  EXPECT_EQ(as_user({}), exe);  // no home to go to
  fs::permissions(exe, fs::perms(0755));
  std::ofstream(exe + "VOKLOAD.INI") << "[SETUP]\r\n";
  fs::permissions(exe, fs::perms(0555));
  EXPECT_EQ(as_user(env), exe);
  fs::permissions(exe, fs::perms(0777));
  fs::remove(exe + "VOKLOAD.INI");
  EXPECT_EQ(as_user(env), exe + " writable");
  EXPECT_FALSE(FolderWritable(dir.folder() + "missing/"));
}

TEST(AppFolder, AnInstalledCopyUsesTheUsersFolderEvenForRoot) {
  const Env env{{"XDG_DATA_HOME", "/srv/data"}};
  for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    EXPECT_TRUE(IsSystemProgramFolder(folder, Lookup(env))) << folder;
    EXPECT_EQ(ChooseApplicationFolder(folder, Lookup(env)), "/srv/data/vokloader/") << folder;
  }
  for (const char* folder : {"/usr/bin/tools/", "/opt/vok/", "/usr/", "/"}) {
    EXPECT_FALSE(IsSystemProgramFolder(folder, Lookup(env))) << folder;
  }
}
#else
TEST(AppFolder, PortableUnlessUnderProgramFiles) {
  TempDir dir;
  const std::string exe = dir.folder() + "VOK Loader\\";
  fs::create_directory(exe);
  const std::string local = "C:\\Users\\tech\\AppData\\Local";
  std::string upper = dir.path().string();
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  EXPECT_TRUE(FolderWritable(exe));
  EXPECT_FALSE(FolderWritable(dir.folder() + "missing\\"));
  // Deeper than the ANSI functions reach.
  const std::string deep = dir.folder() + std::string(200, 'd') + "\\" + std::string(100, 'e') + "\\";
  fs::create_directories(deep);
  EXPECT_TRUE(FolderWritable(deep));
  EXPECT_EQ(ChooseApplicationFolder(exe, Lookup({{"LOCALAPPDATA", local}})), exe);
  for (const char* name : {"ProgramFiles", "ProgramW6432", "ProgramFiles(x86)"}) {
    const Env env{{"LOCALAPPDATA", local}, {name, upper}};
    EXPECT_EQ(ChooseApplicationFolder(exe, Lookup(env)), local + "\\VOK Loader\\") << name;
  }
  // A folder whose name only begins like Program Files is not in it.
  EXPECT_FALSE(IsSystemProgramFolder(upper + "x\\", Lookup({{"ProgramFiles", upper}})));
  std::ofstream(exe + "VOKLOAD.INI") << "[SETUP]\r\n";
  EXPECT_EQ(ChooseApplicationFolder(exe, Lookup({{"LOCALAPPDATA", local}, {"ProgramFiles", upper}})), exe);
}
#endif

TEST(AppFolder, TheBuildFolderIsAPortableCopyAndTheWorkFoldersAreMadeOnFirstUse) {
  EXPECT_EQ(ApplicationFolder(), ExecutableFolder());

  TempDir dir;
  const char sep = kPathSeparator;
  AppPaths paths{dir.folder() + "data" + sep + "vokloader" + sep};
  CreateWorkFolders(paths);
  EXPECT_TRUE(fs::is_directory(paths.UpdateDir()));
  EXPECT_TRUE(fs::is_directory(paths.BackupDir()));
}

#ifndef _WIN32
// Where another run of this user may have left a journal: under sudo the
// invoking user's folder, else root's; each once, never the own folder.
TEST(AppFolder, OtherApplicationFoldersOfThisUser) {
  const std::map<std::string, std::string> homes = {{"tech", "/home/tech"}, {"root", "/root"}};
  const HomeLookup home = [&homes](const std::string& user) -> std::optional<std::string> {
    auto it = homes.find(user);
    if (it == homes.end()) return std::nullopt;
    return it->second;
  };
  const std::string exe = "/opt/vok/bin/";
  const std::string tech = "/home/tech/.local/share/vokloader/";
  const std::string root = "/root/.local/share/vokloader/";
  struct Case {
    const char* what;
    std::string app_folder;
    Env env;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"the user, installed copy", tech, {{"HOME", "/home/tech"}}, {exe, root}},
      {"the user, portable copy", exe, {{"HOME", "/home/tech"}}, {tech, root}},
      {"sudo", root, {{"HOME", "/root"}, {"SUDO_USER", "tech"}}, {exe, tech}},
      {"sudo keeping the user's environment", tech,
       {{"HOME", "/home/tech"}, {"SUDO_USER", "tech"}}, {exe, root}},
      {"sudo by a user the database does not know", root,
       {{"HOME", "/root"}, {"SUDO_USER", "ghost"}}, {exe}},
      {"own XDG_DATA_HOME", "/data/vokloader/",
       {{"HOME", "/home/tech"}, {"XDG_DATA_HOME", "/data"}}, {exe, root}},
      {"no home at all", exe, {}, {root}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(OtherApplicationFolders(c.app_folder, exe, Lookup(c.env), home), c.expected);
  }
  // The system's own database, for this process's user and for nobody.
  const passwd* me = ::getpwuid(::geteuid());
  ASSERT_NE(me, nullptr);
  EXPECT_EQ(UserHomeFolder(me->pw_name), std::string(me->pw_dir));
  EXPECT_EQ(UserHomeFolder("no such user of vok"), std::nullopt);
}
#endif

}  // namespace
}  // namespace vok
