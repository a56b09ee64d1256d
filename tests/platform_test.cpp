// The seam between systems: file identity across names, the output file
// emptied while a run goes on, and the processors a process may use. The
// rest of it is checked through the whole program.
#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "scratch_dir.hpp"

namespace {

TEST(Platform, FindsRegularFilesOnly) {
  test::ScratchDir dir;
  test::WriteFile(dir / "a", "image");
  struct Case {
    std::string path;
    bool regular;
  };
  const Case cases[] = {
      {dir / "a", true},  {dir / "missing", false},   {dir.path(), false},
      {dir / ".", false}, {test::kNullDevice, false}, {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    platform::FileIdentity identity;
    EXPECT_EQ(platform::RegularFileAt(c.path.c_str(), identity), c.regular);
  }
}

TEST(Platform, TellsFilesApartWhateverTheirNames) {
  test::ScratchDir dir;
  test::WriteFile(dir / "a", "same bytes");
  test::WriteFile(dir / "b", "same bytes");
  std::filesystem::create_hard_link(std::filesystem::u8path(dir / "a"),
                                    std::filesystem::u8path(dir / "link"));
  platform::FileIdentity a, b, link, dotted, open;
  ASSERT_TRUE(platform::RegularFileAt((dir / "a").c_str(), a));
  ASSERT_TRUE(platform::RegularFileAt((dir / "b").c_str(), b));
  ASSERT_TRUE(platform::RegularFileAt((dir / "link").c_str(), link));
  ASSERT_TRUE(platform::RegularFileAt((dir / "./a").c_str(), dotted));
  std::FILE* stream = platform::OpenFile((dir / "a").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(platform::RegularFileOf(stream, open));
  std::fclose(stream);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a == link);
  EXPECT_TRUE(a == dotted);
  EXPECT_TRUE(a == open);
}

// Whatever the output file held is gone once AwaitEmptied returns, and what
// is written then is all it holds; the second file a process opens so is
// emptied at once. Nothing can be opened as a folder.
TEST(Platform, EmptiesTheOutputFileBeforeItIsWritten) {
  test::ScratchDir dir;
  const struct {
    const char* name;
    std::size_t held;
  } cases[] = {{"new", 0}, {"large", 8u << 20}, {"small", 5}, {"large again", 8u << 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.held > 0) test::WriteFile(dir / c.name, std::string(c.held, 'x'));
    std::FILE* stream = platform::OpenOutputFile((dir / c.name).c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(platform::AwaitEmptied());
    EXPECT_EQ(test::ReadFile(dir / c.name), "");
    std::fputs("image", stream);
    std::fclose(stream);
    EXPECT_EQ(test::ReadFile(dir / c.name), "image");
  }
  EXPECT_EQ(platform::OpenOutputFile(dir.path().c_str()), nullptr);
}

TEST(Platform, CountsTheProcessorsItMayUse) {
  const unsigned usable = platform::UsableCpuCount();
  EXPECT_GE(usable, 1u);
  if (std::thread::hardware_concurrency() > 0) {
    EXPECT_LE(usable, std::thread::hardware_concurrency());
  }
}

}  // namespace
