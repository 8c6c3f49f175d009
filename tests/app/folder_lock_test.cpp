#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/folder_lock.h"
#include "support/recorders.h"
#include "support/temp_dir.h"

namespace vok {
namespace {

TEST(FolderLock, OneHolderAtATimeAndTheSecondIsTold) {
  test::TempDir dir;
  const AppPaths paths{dir.folder()};
  FolderLock first, second;
  ASSERT_EQ(first.Acquire(paths.folder), FolderLock::Result::kLocked);
  EXPECT_EQ(second.Acquire(paths.folder), FolderLock::Result::kInUse);

  test::ScriptedUi ui;
  EXPECT_FALSE(LockApplicationFolder(second, paths, ui));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "The application folder " + paths.folder +
                                     " is in use by another VOK Loader. Wait until it has "
                                     "finished, or give each program a folder of its own.");
  EXPECT_EQ(ui.messages[0].icon, Icon::Stop);

  // The lock goes with its holder; the file stays.
  first.Release();
  EXPECT_TRUE(LockApplicationFolder(second, paths, ui));
  EXPECT_TRUE(second.Held());
  EXPECT_TRUE(std::filesystem::exists(paths.folder + FolderLock::kFileName));
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(FolderLock, AFolderThatCannotHoldTheLockFileGivesTheSystemsReason) {
  test::TempDir dir;
  const AppPaths paths{dir.file("missing") + "/"};
  test::ScriptedUi ui;
  FolderLock lock;
  EXPECT_FALSE(LockApplicationFolder(lock, paths, ui));
  ASSERT_EQ(ui.messages.size(), 1u);
  const std::string& text = ui.messages[0].text;
  EXPECT_EQ(text.rfind("Cannot lock the application folder " + paths.folder + ": ", 0), 0u) << text;
  EXPECT_GT(text.size(), paths.folder.size() + std::string(FolderLock::kFileName).size() + 40)
      << "no reason given: " << text;
}

}  // namespace
}  // namespace vok
