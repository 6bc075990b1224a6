// Shares of a folder by file name, and lists of names handed to a run.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "engine/BatchSelection.h"

namespace sigilon {
namespace {

// Names as cameras, scanners and people write them, bytes above 127 included.
std::vector<std::string> RandomNames(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> length(1, 40), byte(1, 255);
  std::set<std::string> names;
  while (names.size() < count) {
    std::string name;
    for (int i = length(random); i > 0; --i) {
      const char c = static_cast<char>(byte(random));
      name += c == '/' ? '_' : c;
    }
    names.insert(name + (random() % 2 ? ".JPG" : ".bmp"));
  }
  return {names.begin(), names.end()};
}

TEST(ShardTest, EveryNameFallsIntoExactlyOneShareOfEveryCount) {
  const std::vector<std::string> names = RandomNames(3000, 20261207);
  for (const std::uint32_t count : {1u, 2u, 3u, 7u, 64u, 1000u, kMaxShardCount}) {
    std::vector<std::size_t> perShare(count + 1, 0);
    for (const std::string& name : names) {
      int shares = 0;
      for (std::uint32_t index = 1; index <= std::min(count, 1000u); ++index) {
        shares += InShard(name, {index, count}) ? 1 : 0;
      }
      const std::uint32_t share = ShardOfName(name, count);
      ASSERT_GE(share, 1u);
      ASSERT_LE(share, count);
      if (count <= 1000) {
        ASSERT_EQ(shares, 1) << name << " of " << count;
      }
      ++perShare[share];
    }
    // Shares stay even enough to be worth spreading: no share of a few gets
    // more than half again its fair part.
    if (count <= 7) {
      for (std::uint32_t index = 1; index <= count; ++index) {
        EXPECT_LT(perShare[index], names.size() * 3 / (2 * count)) << index << "/" << count;
      }
    }
  }
}

TEST(ShardTest, SharesAreTheSameInEveryBuild) {
  // Pinned: machines running different builds of the program must split a
  // folder alike, so a change of the hash has to be deliberate.
  for (const auto& [name, of3, of1000, of65536] : {std::tuple{"IMG_0001.JPG", 3u, 816u, 25920u},
                                                   {"a.jpg", 1u, 624u, 424u},
                                                   {"\xc3\x9cn\xc3\xaf"
                                                    "code.bmp",
                                                    1u, 273u, 55409u}}) {
    EXPECT_EQ(ShardOfName(name, 3), of3) << name;
    EXPECT_EQ(ShardOfName(name, 1000), of1000) << name;
    EXPECT_EQ(ShardOfName(name, 65536), of65536) << name;
  }
}

TEST(ShardTest, ParsesOnlySharesWithinTheLimits) {
  for (const auto& [text, index, count] :
       {std::tuple{"1/1", 1u, 1u}, {"3/7", 3u, 7u}, {"65536/65536", 65536u, 65536u}}) {
    const auto shard = ParseShard(text);
    ASSERT_TRUE(shard) << text;
    EXPECT_EQ(shard->Index, index);
    EXPECT_EQ(shard->Count, count);
  }
  for (const char* text : {"", "1", "/", "0/3", "4/3", "1/0", "1/65537", "-1/3", "1/3x", " 1/3",
                           "1//3", "a/b", "99999999999/1"}) {
    EXPECT_FALSE(ParseShard(text)) << text;
  }
}

TEST(ListedNameTest, OnlyPlainNamesInsideTheFolderAreTaken) {
  for (const char* name : {"a.jpg", "IMG 0001.JPG", "..hidden.bmp", "a..b.jpg", "back\\slash.jpg"})
    EXPECT_EQ(ListedNameRefusal(name), "") << name;
  using namespace std::string_literals;
  for (const std::string& name :
       {"."s, ".."s, "../a.jpg"s, "/etc/passwd"s, "sub/a.jpg"s, "a.jpg/"s, "a\0b.jpg"s, ""s}) {
    EXPECT_NE(ListedNameRefusal(name), "") << name;
  }
}

TEST(ListedNameTest, ListsReadOneNamePerLineOnceEach) {
  std::istringstream list("b.jpg\r\na.jpg\n\nb.jpg\n  spaced.jpg \nlast.bmp");
  EXPECT_EQ(ReadFileNameList(list),
            (std::vector<std::string>{"b.jpg", "a.jpg", "  spaced.jpg ", "last.bmp"}));
}

}  // namespace
}  // namespace sigilon
