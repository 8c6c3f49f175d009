#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vok {

// Reads one environment variable: nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The process's own environment. HOME that is not set is taken from the
// password database, as a login would have set it.
std::optional<std::string> ProcessEnvironment(const std::string& name);

// Folder of the running executable, ending in a path separator.
std::string ExecutableFolder();

// The per-user folder of the program's files, ending in a separator:
// ${XDG_DATA_HOME:-$HOME/.local/share}/vokloader/ on POSIX systems,
// %LOCALAPPDATA%\VOK Loader\ on Windows. Empty when the environment names
// no such place.
std::string UserDataFolder(const EnvironmentLookup& env);

// True when the running user may create files in the folder.
bool FolderWritable(const std::string& folder);

// True for the folders the system installs programs into (/usr/bin and its
// kin, Program Files). They are never a user's place for files, not even
// for root or an elevated administrator who could write there: a settings
// file left there would bind every later user to a folder they cannot write.
bool IsSystemProgramFolder(const std::string& folder, const EnvironmentLookup& env);

// Where the settings, UPDATE and BACKUP of a program in exe_folder live:
// exe_folder itself when it already holds VOKLOAD.INI, or when the user may
// write there and it is no system program folder (a portable copy);
// otherwise the per-user folder, or exe_folder when there is none.
std::string ChooseApplicationFolder(const std::string& exe_folder, const EnvironmentLookup& env);

// A user's home folder from the system's user database; nullopt for no such
// user (and always on Windows, where an elevated run keeps its user).
std::optional<std::string> UserHomeFolder(const std::string& user);
using HomeLookup = std::function<std::optional<std::string>(const std::string& user)>;

// The application folders other than app_folder where a run of this user
// may have kept its journal, each ending in a separator and named once: the
// program's own folder, the per-user folder, under sudo the per-user folder
// of the user who invoked it (SUDO_USER), and root's, which a run under sudo
// without its own environment uses. Folders this user cannot read are
// listed too; their journal simply is not seen.
std::vector<std::string> OtherApplicationFolders(const std::string& app_folder,
                                                 const std::string& exe_folder,
                                                 const EnvironmentLookup& env,
                                                 const HomeLookup& home);
// The same for this process.
std::vector<std::string> OtherApplicationFolders(const std::string& app_folder);

// ChooseApplicationFolder for this process, ending in a separator. The
// folder may not exist yet: CreateWorkFolders makes it.
std::string ApplicationFolder();

}  // namespace vok
