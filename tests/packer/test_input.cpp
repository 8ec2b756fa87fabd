// Finding the files to pack: which main executable is chosen, which inputs
// are refused (each with a reason naming the file or option), and what is
// only worth a warning.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fixture.h"
#include "input_tree.h"
#include "payload/block_format.h"

namespace {

TEST(Input, TheOnlyExeAtTheTopIsTheMain) {
    ScratchDir in;
    in.write("a.txt", "a");
    in.write("Tool.EXE", "MZ");
    in.write("bin/helper.exe", "MZ");   // not at the top: no rival
    InputTree tree;
    std::string error;
    ASSERT_TRUE(collect_input(in.path(), "", &tree, &error)) << error;
    EXPECT_EQ(relatives(tree), (std::vector<std::string>{"Tool.EXE", "a.txt", "bin/helper.exe"}));
    EXPECT_EQ(tree.files[0].entry_name, u"Tool.EXE");
    EXPECT_EQ(tree.files[0].size, 2u);
    EXPECT_TRUE(tree.warnings.empty());
}

TEST(Input, LinksAreFollowed) {
    ScratchDir outside;
    outside.write("real.dll", "library");
    outside.write("shared/data.txt", "data");
    ScratchDir in;
    in.write("app.exe", "MZ");
    in.link("lib.dll", outside / "real.dll");
    in.link("shared", outside / "shared");
    in.link("again/data.txt", "../shared/data.txt");
    InputTree tree;
    std::string error;
    ASSERT_TRUE(collect_input(in.path(), "", &tree, &error)) << error;
    EXPECT_EQ(relatives(tree), (std::vector<std::string>{"app.exe", "lib.dll", "again/data.txt", "shared/data.txt"}));
    EXPECT_EQ(tree.files[1].size, 7u);
}

TEST(Input, EmptyDirectoriesAreWarnedAboutAndSkipped) {
    ScratchDir in;
    InputTree tree;
    std::string error;
    ASSERT_TRUE(collect_input(in.path(), "", &tree, &error)) << error;
    ASSERT_EQ(tree.warnings.size(), 1u);
    EXPECT_NE(tree.warnings[0].find("holds no files"), std::string::npos) << tree.warnings[0];

    in.write("app.exe", "MZ");
    in.mkdir("logs");
    in.mkdir("cache/deep");
    ASSERT_TRUE(collect_input(in.path(), "", &tree, &error)) << error;
    EXPECT_EQ(relatives(tree), std::vector<std::string>{"app.exe"});
    ASSERT_EQ(tree.warnings.size(), 2u);
    EXPECT_NE(tree.warnings[0].find("'cache/deep'"), std::string::npos) << tree.warnings[0];
    EXPECT_NE(tree.warnings[1].find("'logs'"), std::string::npos) << tree.warnings[1];
}

struct BadInput {
    const char* what;
    void (*arrange)(const ScratchDir& in);
    const char* main;
    std::string expected;   // part of the one-line reason
};

const std::string long_component(250, 'n');
// Four long components and their separators, then this many units of a
// last component make the longest name an entry may carry.
const size_t last_component_of_longest_name = max_entry_name_units - 4 * (long_component.size() + 1);

const BadInput bad_inputs[] = {
    {"no exe at the top", [](const ScratchDir& in) { in.write("bin/app.exe", "MZ"); }, "", "pass --main"},
    {"two exes at the top",
     [](const ScratchDir& in) {
         in.write("a.exe", "MZ");
         in.write("b.exe", "MZ");
     },
     "", "pass --main"},
    {"main outside the input", [](const ScratchDir& in) { in.write("app.exe", "MZ"); }, "../app.exe",
     "--main '../app.exe' is not a path inside"},
    {"main absolute", [](const ScratchDir& in) { in.write("app.exe", "MZ"); }, "/bin/sh", "--main '/bin/sh'"},
    {"main missing", [](const ScratchDir& in) { in.write("app.exe", "MZ"); }, "other.exe",
     "--main 'other.exe' does not exist"},
    {"main is a directory", [](const ScratchDir& in) { in.write("bin/app.exe", "MZ"); }, "bin",
     "--main 'bin' is not a regular file"},
    {"main is a batch script", [](const ScratchDir& in) { in.write("run.bat", "@echo"); }, "run.bat",
     "'run.bat' is a batch script"},
    {"main is a command script", [](const ScratchDir& in) { in.write("bin/Run.CMD", "@echo"); }, "bin/Run.CMD",
     "'bin/Run.CMD' is a batch script"},
    {"name not UTF-8", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("bad\xFF.txt", "x"); }, "",
     "'bad\\xFF.txt' is not valid UTF-8"},
    {"name too long",
     [](const ScratchDir& in) {
         in.write("app.exe", "MZ");
         in.write(long_component + "/" + long_component + "/" + long_component + "/" + long_component + "/" +
                      std::string(last_component_of_longest_name + 1, 'f'),
                  "x");
     },
     "", "is " + std::to_string(max_entry_name_units + 1) + " UTF-16 units long; the launcher takes at most " +
             std::to_string(max_entry_name_units)},
    {"backslash in a name", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("a\\b.txt", "x"); }, "",
     "'a\\b.txt' holds a character Windows does not allow"},
    {"colon in a name", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("a:b", "x"); }, "",
     "'a:b' holds a character"},
    {"trailing dot", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("notes.", "x"); }, "",
     "'notes.' ends in a dot"},
    {"device name", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("sub/nul.txt", "x"); }, "",
     "'sub/nul.txt' is a device name"},
    {"names that differ only in case",
     [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("Data/x", "1"), in.write("data/y", "2"); }, "",
     "differ only in case"},
    {"non-ASCII case collision",
     [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.write("\xC3\xA4.txt", "1"), in.write("\xC3\x84.txt", "2"); },
     "", "differ only in case"},
    {"fifo",
     [](const ScratchDir& in) {
         in.write("app.exe", "MZ");
         mkfifo((in / "pipe").c_str(), 0644);
     },
     "", "'pipe' is not a regular file or directory"},
    {"dangling link", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.link("gone.dll", "nowhere.dll"); }, "",
     "dangling link 'gone.dll'"},
    {"link to itself", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.link("self", "self"); }, "",
     "dangling link 'self'"},
    {"directory loop", [](const ScratchDir& in) { in.write("app.exe", "MZ"), in.link("sub/up", ".."); }, "",
     "directory loop: 'sub/up'"},
};

TEST(Input, BadInputIsRefusedWithAReasonNamingIt) {
    for (const BadInput& bad : bad_inputs) {
        ScratchDir in;
        bad.arrange(in);
        InputTree tree;
        std::string error;
        EXPECT_FALSE(collect_input(in.path(), bad.main, &tree, &error)) << bad.what;
        EXPECT_NE(error.find(bad.expected), std::string::npos) << bad.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << bad.what;
    }
}

TEST(Input, MissingOrUnusableInputDirectoryIsRefused) {
    ScratchDir scratch;
    scratch.write("file.txt", "x");
    InputTree tree;
    std::string error;
    EXPECT_FALSE(collect_input(scratch / "missing", "", &tree, &error));
    EXPECT_NE(error.find("missing': No such file"), std::string::npos) << error;
    EXPECT_FALSE(collect_input(scratch / "file.txt", "", &tree, &error));
    EXPECT_NE(error.find("is not a directory"), std::string::npos) << error;

    if (geteuid() != 0) {   // permissions do not stop root
        scratch.write("in/app.exe", "MZ");
        scratch.write("in/locked/x", "x");
        chmod((scratch / "in/locked").c_str(), 0);
        EXPECT_FALSE(collect_input(scratch / "in", "", &tree, &error));
        EXPECT_NE(error.find("cannot read directory 'locked'"), std::string::npos) << error;
        chmod((scratch / "in/locked").c_str(), 0755);
    }
}

TEST(Input, LongestNameThatFitsIsAccepted) {
    ScratchDir in;
    in.write("app.exe", "MZ");
    std::string name = long_component + "/" + long_component + "/" + long_component + "/" + long_component + "/" +
                       std::string(last_component_of_longest_name, 'f');
    in.write(name, "x");
    InputTree tree;
    std::string error;
    ASSERT_TRUE(collect_input(in.path(), "", &tree, &error)) << error;
    EXPECT_EQ(tree.files[1].entry_name.size(), max_entry_name_units);
}

}  // namespace
