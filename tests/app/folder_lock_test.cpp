#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/folder_lock.h"
#include "support/recorders.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

TEST(FolderLock, OneHolderAtATimeAndWhyNotIsShown) {
  test::TempDir dir;
  std::ofstream(dir.file("plain")).put('x');
  const AppPaths paths{dir.folder()}, missing{dir.file("missing/deep") + "/"},
      impossible{dir.file("plain/sub") + "/"};
  FolderLock first, second;
  test::ScriptedUi ui;
  ASSERT_TRUE(LockApplicationFolder(first, paths, ui));
  EXPECT_FALSE(LockApplicationFolder(second, paths, ui));
  EXPECT_FALSE(LockApplicationFolder(second, impossible, ui));
  FolderLock fresh;  // a folder not there yet is made on first use
  EXPECT_TRUE(LockApplicationFolder(fresh, missing, ui));
  EXPECT_TRUE(std::filesystem::is_directory(missing.folder));
  first.Release();
  EXPECT_TRUE(LockApplicationFolder(second, paths, ui));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, "The application folder " + paths.folder +
                                     " is in use by another VOK Loader. Wait until it has "
                                     "finished, or give each program a folder of its own.");
  EXPECT_EQ(ui.messages[0].icon, Icon::Stop);
  // The lock file's path and the system's reason after it.
  const std::string prefix = "Cannot lock the application folder " + impossible.folder + ": " +
                             impossible.folder + FolderLock::kFileName + ": ";
  EXPECT_EQ(ui.messages[1].text.rfind(prefix, 0), 0u) << ui.messages[1].text;
  EXPECT_GT(ui.messages[1].text.size(), prefix.size() + 5) << ui.messages[1].text;
}

}  // namespace
}  // namespace vok
