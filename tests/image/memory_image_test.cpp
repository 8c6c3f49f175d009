#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <vector>

#include "image/memory_image.h"
#include "support/temp_dir.h"
#include "test_util.h"

namespace vok {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Fetch(MemoryImage& image, uint32_t address, uint32_t n) {
  Bytes b(n, 0x00);
  image.Fetch(address, b.data(), n);
  return b;
}

uint64_t FileSize(const MemoryImage& image) { return std::filesystem::file_size(image.GetFilePath()); }

TEST(MemoryImage, ExtentGrowsWithErasedFill) {
  test::TempDir dir;
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  EXPECT_EQ(image.GetFilePath(), dir.file("memimage.tmp"));
  const Bytes four{1, 2, 3, 4};
  ASSERT_EQ(image.Store(0x88000, four.data(), 4), 0);
  EXPECT_EQ(FileSize(image), 0x88004u);
  EXPECT_EQ(image.GetExtentStart(), 0x88000u);
  EXPECT_EQ(image.GetExtentLength(), 4u);
  EXPECT_EQ(Fetch(image, 0x87FFE, 8), (Bytes{0xFF, 0xFF, 1, 2, 3, 4, 0xFF, 0xFF}));

  const Bytes two{7, 8};
  ASSERT_EQ(image.Store(0x88010, two.data(), 2), 0);
  EXPECT_EQ(FileSize(image), 0x88012u);
  Bytes expect(0x12, 0xFF);
  std::copy(four.begin(), four.end(), expect.begin());
  expect[0x10] = 7;
  expect[0x11] = 8;
  EXPECT_EQ(Fetch(image, 0x88000, 0x12), expect);

  // Below the extent: the gap up to the old start is filled too (more than
  // one 4096-byte piece of it).
  ASSERT_EQ(image.Store(0x80000, two.data(), 2), 0);
  EXPECT_EQ(image.GetExtentStart(), 0x80000u);
  EXPECT_EQ(image.GetExtentLength(), 0x8012u);
  EXPECT_EQ(FileSize(image), 0x88012u);
  std::string disk = test::ReadFile(image.GetFilePath());
  EXPECT_EQ(disk.substr(0x80002, 0x7FFE), std::string(0x7FFE, '\xFF'));
  // Later stores overwrite earlier ones.
  ASSERT_EQ(image.Store(0x88001, two.data(), 2), 0);
  EXPECT_EQ(Fetch(image, 0x88000, 4), (Bytes{1, 7, 8, 4}));
}

TEST(MemoryImage, LimitsAndBase) {
  test::TempDir dir;
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  const Bytes two{0xAA, 0xBB};
  EXPECT_EQ(image.Store(0xFFFFFE, two.data(), 2), 0);
  EXPECT_EQ(image.Store(0xFFFFFF, two.data(), 2), 2);
  EXPECT_EQ(image.Store(0xFFFFFFFF, two.data(), 2), 2);
  EXPECT_EQ(image.Store(0x1000000, two.data(), 0), 0);
  EXPECT_EQ(FileSize(image), 0x1000000u);
  EXPECT_EQ(Fetch(image, 0xFFFFFE, 4), (Bytes{0xAA, 0xBB, 0xFF, 0xFF}));

  MemoryImage based;
  test::TempDir dir2;
  ASSERT_EQ(based.Open(0x80000, dir2.folder()), 0);
  const Bytes four{1, 2, 3, 4};
  EXPECT_EQ(based.Store(0x7FFFE, four.data(), 4), 2);  // stored in part
  EXPECT_EQ(Fetch(based, 0x7FFFC, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 3, 4, 0xFF, 0xFF}));
  EXPECT_EQ(based.Store(0x7FFF0, four.data(), 4), 2);
  EXPECT_EQ(based.GetExtentLength(), 2u);
  // Fetching across the top of the address space.
  EXPECT_EQ(Fetch(based, 0xFFFFFFFE, 4), Bytes(4, 0xFF));
}

TEST(MemoryImage, WithoutFile) {
  MemoryImage image;
  const Bytes one{1};
  EXPECT_EQ(image.Store(0x100, one.data(), 1), 3);
  EXPECT_EQ(Fetch(image, 0x100, 2), Bytes(2, 0xFF));
  image.Fetch(0x100, nullptr, 0);  // nothing asked, nothing touched
  test::TempDir dir;
  EXPECT_EQ(image.Open(0, dir.file("missing")), 1);
  EXPECT_FALSE(image.IsOpen());
  EXPECT_EQ(image.Store(0x100, one.data(), 1), 3);
  EXPECT_EQ(Fetch(image, 0x100, 2), Bytes(2, 0xFF));
}

// File size limits and symbolic links are POSIX matters.
#ifndef _WIN32
TEST(MemoryImage, FileErrorLeavesExtent) {
  test::TempDir dir;
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  const Bytes data(16, 0x11);
  ASSERT_EQ(image.Store(0x1000, data.data(), 16), 0);

  // A file size limit stands in for a full disk (it holds for root too).
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 0x2000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int far = image.Store(0x3000, data.data(), 16);    // the 0xFF fill fails
  int across = image.Store(0x1FF8, data.data(), 16);  // the data fail half way
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(far, 3);
  EXPECT_EQ(across, 3);
  EXPECT_EQ(image.GetExtentStart(), 0x1000u);
  EXPECT_EQ(image.GetExtentLength(), 16u);
  EXPECT_EQ(FileSize(image), 0x1010u);
  EXPECT_EQ(Fetch(image, 0x1000, 17), [] { Bytes b(17, 0x11); b[16] = 0xFF; return b; }());
  EXPECT_FALSE(image.HadReadError());

  // Someone cuts the file behind the image's back: what was lost is not
  // passed off as erased flash.
  ASSERT_EQ(::truncate(image.GetFilePath().c_str(), 0x1008), 0);
  Bytes got = Fetch(image, 0x1000, 16);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 8), Bytes(8, 0x11));
  EXPECT_TRUE(image.HadReadError());
}

TEST(MemoryImage, TemporaryFileIsNeverFollowed) {
  test::TempDir dir;
  std::string victim = dir.file("victim");
  test::WriteFile(victim, "precious");
  test::TempDir elsewhere;
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::create_symlink(victim, dir.file("memimage.tmp"));
  {
    MemoryImage image;
    ASSERT_EQ(image.Open(0, dir.folder()), 0);
    const Bytes data(64, 0x42);
    ASSERT_EQ(image.Store(0, data.data(), 64), 0);
    struct stat st;
    ASSERT_EQ(::lstat(dir.file("memimage.tmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Deleted by its full path, whatever the current folder is by then.
    std::filesystem::current_path(elsewhere.path());
  }
  std::filesystem::current_path(cwd);
  EXPECT_EQ(test::ReadFile(victim), "precious");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.file("memimage.tmp"))));

  // A plain old file of that name is replaced, not reused.
  test::WriteFile(dir.file("memimage.tmp"), std::string(100, 'x'));
  MemoryImage image;
  ASSERT_EQ(image.Open(0, dir.folder()), 0);
  EXPECT_EQ(std::filesystem::file_size(dir.file("memimage.tmp")), 0u);
}
#endif

}  // namespace
}  // namespace vok
