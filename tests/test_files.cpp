// Names that lead to one file, and the lock that keeps a second run out of a
// folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.hpp"
#include "test_support.hpp"

namespace placatermo {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_file;

struct NamePair {
    const char* a;
    const char* b;
    bool same;
};

// In a folder with a file "a.txt", a folder "dir", links to the file (symbolic
// and hard) and a dangling symbolic link to the missing "new.txt".
class SameFile : public ::testing::TestWithParam<NamePair> {
protected:
    void SetUp() override
    {
        write_file("a.txt", "a");
        write_file("b.txt", "b");
        fs::create_directory("dir");
        fs::create_symlink("a.txt", "link");
        fs::create_symlink("../a.txt", "dir/up");
        fs::create_symlink("link", "link_to_link");
        fs::create_hard_link("a.txt", "hard");
        fs::create_symlink("new.txt", "dangling");
        fs::create_symlink("dir", "dir_link");
    }
    TempDir dir_;
};

TEST_P(SameFile, ComparesFilesNotSpellings)
{
    const auto& c = GetParam();
    EXPECT_EQ(same_file(c.a, c.b), c.same) << c.a << " " << c.b;
    EXPECT_EQ(same_file(c.b, c.a), c.same) << c.b << " " << c.a;
}

INSTANTIATE_TEST_SUITE_P(Names, SameFile,
                         ::testing::Values(NamePair{"a.txt", "a.txt", true}, NamePair{"a.txt", "./a.txt", true},
                                           NamePair{"a.txt", "dir/../a.txt", true}, NamePair{"a.txt", "link", true},
                                           NamePair{"a.txt", "link_to_link", true}, NamePair{"a.txt", "dir/up", true},
                                           NamePair{"a.txt", "hard", true}, NamePair{"a.txt", "b.txt", false},
                                           NamePair{"new.txt", "./new.txt", true},
                                           NamePair{"new.txt", "dangling", true},
                                           NamePair{"new.txt", "dir/../new.txt", true},
                                           NamePair{"dir/new.txt", "dir_link/new.txt", true},
                                           NamePair{"new.txt", "other.txt", false}, NamePair{"a.txt", "new.txt", false},
                                           NamePair{"dangling", "a.txt", false}, NamePair{"A.TXT", "a.txt", false}),
                         [](const auto& info) { return "Pair" + std::to_string(info.index); });

TEST(SameFile, AbsoluteAndRelativeNames)
{
    TempDir dir;
    write_file("x.res", "x");
    EXPECT_TRUE(same_file(fs::current_path() / "x.res", "x.res"));
    EXPECT_TRUE(same_file(fs::current_path() / "y.res", "./y.res"));
}

TEST(FileLock, SecondLockOnTheSameFileIsRefused)
{
    TempDir dir;
    auto first = FileLock::try_lock("placatermo.ent");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->created());
    EXPECT_TRUE(fs::exists("placatermo.ent"));
    EXPECT_FALSE(FileLock::try_lock("placatermo.ent"));
    EXPECT_FALSE(FileLock::try_lock("./placatermo.ent"));
    first.reset();
    auto again = FileLock::try_lock("placatermo.ent");
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->created());
}

TEST(FileLock, KnowsWhenTheNameLeadsToAnotherFile)
{
    TempDir dir;
    write_file("placatermo.ent", "old");
    const auto lock = FileLock::try_lock("placatermo.ent");
    ASSERT_TRUE(lock);
    EXPECT_TRUE(lock->still_locks("placatermo.ent"));
    // an editor that saves a new file and renames it over the old one
    write_file("novo.ent", "new");
    fs::rename("novo.ent", "placatermo.ent");
    EXPECT_FALSE(lock->still_locks("placatermo.ent"));
    EXPECT_TRUE(FileLock::try_lock("placatermo.ent"));
}

}  // namespace
}  // namespace placatermo
