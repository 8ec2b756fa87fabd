// Creating the directories above a file through the known-directory cache.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_os.h"
#include "launcher/state.h"
#include "payload/unpack.h"

namespace {

using Paths = std::vector<std::u16string>;

const std::u16string profile = u"C:\\Users\\user";
const std::u16string app_data = profile + u"\\AppData";
const std::u16string local = app_data + u"\\Local";
const std::u16string vendor = local + u"\\Quenlith";
const std::u16string target = vendor + u"\\1.0.20";

Paths cached() { return Paths(launcher.known_dirs, launcher.known_dirs + launcher.known_dirs_count); }

class MakeDirs : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
    }
    void TearDown() override { reset_launcher_state(); }
};

// The walk goes up until a directory is known, exists or is made, then makes
// the ones below on the way down; the topmost failure is tried twice. A
// directory that cannot be made lets the walk reach the profile or the drive,
// neither of which reaches the system.
TEST_F(MakeDirs, WalkUpStopsAtTheProfileAtADriveOrAtTheFirstUnit) {
    struct Case {
        const char* where;
        std::u16string file;
        Paths fails;
        Paths calls;
    };
    const Case cases[] = {
        {"below the profile", target + u"\\x\\app.exe", {app_data},
         {target + u"\\x", target, vendor, local, app_data, app_data, local, vendor, target, target + u"\\x"}},
        {"outside the profile, up to the drive", u"D:\\Games\\Q\\app.exe", {u"D:\\Games"},
         {u"D:\\Games\\Q", u"D:\\Games", u"D:\\Games", u"D:\\Games\\Q"}},
        {"a separator only at the first unit", u"\\app.exe", {}, {}},
        {"no separator", u"app.exe", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        fake_reset();
        reset_launcher_state();
        fake_os().create_dir_fails.insert(c.fails.begin(), c.fails.end());
        make_parent_dirs(c.file.c_str());
        EXPECT_EQ(fake_os().created_dirs, c.calls);
    }
}

TEST_F(MakeDirs, CacheStartsWithTheProfileAndKeepsWhatExists) {
    make_parent_dirs((target + u"\\app.exe").c_str());
    EXPECT_EQ(cached(), (Paths{profile, app_data, local, vendor, target}));
    EXPECT_EQ(fake_os().known_folder_calls, 1);

    fake_os().created_dirs.clear();
    make_parent_dirs((target + u"\\other.dll").c_str());
    EXPECT_TRUE(fake_os().created_dirs.empty());
    EXPECT_EQ(fake_os().known_folder_calls, 1);
}

// The system answers "already exists" for a file too: the name is then
// taken for a directory, and the open of the entry below it fails instead.
TEST_F(MakeDirs, FileWhereADirectoryIsNeededIsCachedAsExisting) {
    FakeOs& os = fake_os();
    os.dirs.insert({app_data, local, vendor, target});
    os.files[target + u"\\lib"] = "a file";
    make_parent_dirs((target + u"\\lib\\a.dll").c_str());
    EXPECT_EQ(os.created_dirs, Paths{target + u"\\lib"});
    EXPECT_EQ(cached(), (Paths{profile, target + u"\\lib"}));
    EXPECT_TRUE(make_dir((target + u"\\lib").c_str()));
    EXPECT_EQ(os.created_dirs.size(), 1u);
}

TEST_F(MakeDirs, FullCacheStillCreatesDirectories) {
    Paths dirs;
    for (int i = 0; i < 1100; ++i) dirs.push_back(profile + u"\\d" + std::u16string(1, u'0' + i % 10) + u"_" +
                                                  std::u16string(static_cast<size_t>(i / 10 + 1), u'x'));
    for (const auto& dir : dirs) EXPECT_TRUE(make_dir(dir.c_str()));
    EXPECT_EQ(launcher.known_dirs_count, known_dirs_capacity);   // the profile and the first 1023
    for (const auto& dir : dirs) EXPECT_TRUE(fake_is_dir(dir));

    FakeOs& os = fake_os();
    os.created_dirs.clear();
    EXPECT_TRUE(make_dir(dirs[1022].c_str()));   // remembered
    EXPECT_TRUE(make_dir(dirs[1023].c_str()));   // met after the cache was full
    EXPECT_EQ(os.created_dirs, Paths{dirs[1023]});
}

}  // namespace
