// Exclude patterns: the matching rules, the patterns refused, and what a
// pack of a real directory leaves out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "exclude.h"
#include "fixture.h"
#include "input_tree.h"

namespace {

TEST(Exclude, Matching) {
    const struct {
        const char* pattern;
        const char* path;
        bool directory;
        bool matches;
    } cases[] = {
        // A name without a slash matches at any depth, and only whole names.
        {"*.pdb", "app.pdb", false, true},
        {"*.pdb", "lib/deep/x.pdb", false, true},
        {"*.pdb", "x.pdb.txt", false, false},
        {"cache", "a/cache", true, true},
        {"cache", "a/cache2", true, false},
        {"cache", "mycache", false, false},
        // '*' stays within a component and takes a leading dot; '?' takes
        // one character, a multi-byte one too.
        {"lib/*", "lib/x.dll", false, true},
        {"lib/*", "lib/sub/x.dll", false, false},
        {"*", ".hidden", false, true},
        {"a*b*c", "aXbYbZc", false, true},
        {"a*b*c", "aXbYbZ", false, false},
        {"?.txt", "\xC3\xA9.txt", false, true},
        {"?.txt", "ab.txt", false, false},
        {"??", "\xC3\xA9", false, false},
        // A slash ties the pattern to the top.
        {"lib/x.dll", "lib/x.dll", false, true},
        {"lib/x.dll", "sub/lib/x.dll", false, false},
        {"/app.cfg", "app.cfg", false, true},
        {"/app.cfg", "etc/app.cfg", false, false},
        // '**' takes any number of components, none included.
        {"**/x.dll", "x.dll", false, true},
        {"**/x.dll", "a/b/c/x.dll", false, true},
        {"lib/**/x.dll", "lib/x.dll", false, true},
        {"lib/**/x.dll", "lib/a/b/x.dll", false, true},
        {"lib/**/x.dll", "other/a/x.dll", false, false},
        {"lib/**", "lib/a/b", false, true},
        {"a/**/b/**/c", "a/b/x/b/c", false, true},
        {"a/**/**/c", "a/c", false, true},
        // A trailing slash matches directories only.
        {"build/", "build", true, true},
        {"build/", "build", false, false},
        {"build/", "src/build", true, true},
        {"/out/", "out", true, true},
        {"/out/", "a/out", true, false},
        // Case counts.
        {"*.PDB", "app.pdb", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(exclude_matches(c.pattern, c.path, c.directory), c.matches)
            << c.pattern << " against " << c.path << (c.directory ? " (directory)" : "");
    }
}

TEST(Exclude, AFileBelowAMatchedDirectoryIsLeftOut) {
    const std::vector<std::string> patterns = {"*.log", "tests/"};
    const std::string* pattern = excluding_pattern(patterns, "src/tests/unit/a.cpp", false);
    ASSERT_NE(pattern, nullptr);
    EXPECT_EQ(*pattern, "tests/");
    EXPECT_EQ(excluding_pattern(patterns, "src/tests.cpp", false), nullptr);
    EXPECT_EQ(*excluding_pattern(patterns, "x/y.log", false), "*.log");
}

TEST(Exclude, PatternsThatCouldNeverMatchAreRefused) {
    for (const char* good : {"*.pdb", "/top", "dir/", "/dir/", "a/**/b", "**"}) {
        EXPECT_EQ(exclude_pattern_problem(good), "") << good;
    }
    const struct {
        const char* pattern;
        const char* problem;
    } bad[] = {
        {"", "empty component"},
        {"/", "empty component"},
        {"a//b", "empty component"},
        {"//a", "empty component"},
        {"a/./b", "'.' component"},
        {"../x", "'..' component"},
        {"bin\\x.dll", "backslash"},
    };
    for (const auto& c : bad) {
        EXPECT_NE(exclude_pattern_problem(c.pattern).find(c.problem), std::string::npos) << c.pattern;
    }
}

// A left-out directory is never walked: what is inside it would otherwise
// stop the pack.
TEST(Exclude, CollectingLeavesOutMatchesWithoutLookingInside) {
    ScratchDir in;
    in.write("app.exe", "MZ");
    in.write("app.pdb", "symbols");
    in.write("lib/x.dll", "x");
    in.write("lib/x.pdb", "symbols");
    in.write("logs/Run.txt", "1");
    in.write("logs/run.txt", "2");                 // differs only in case
    in.write("build/caf\xE9.o", "not UTF-8");      // a name the launcher cannot write
    mkfifo((in / "build/pipe").c_str(), 0644);     // not a file
    in.link("gone.dll", "nowhere.dll");            // dangling
    InputTree tree;
    std::string error;
    ASSERT_TRUE(collect_input(in.path(), "", &tree, &error, {"*.pdb", "logs", "/build/", "gone.dll"})) << error;
    EXPECT_EQ(relatives(tree), (std::vector<std::string>{"app.exe", "lib/x.dll"}));
    EXPECT_TRUE(tree.warnings.empty());
}

TEST(Exclude, LeavingOutTheMainProgramIsRefused) {
    ScratchDir in;
    in.write("app.exe", "MZ");
    in.write("bin/tool.exe", "MZ");
    const struct {
        const char* main;
        std::vector<std::string> excludes;
        const char* expected;
    } cases[] = {
        {"app.exe", {"*.exe"}, "--main 'app.exe' is left out by the exclude pattern '*.exe'"},
        {"bin/tool.exe", {"/bin/"}, "--main 'bin/tool.exe' is left out by the exclude pattern '/bin/'"},
        {"", {"app.exe"}, "no .exe at the top"},
    };
    for (const auto& c : cases) {
        InputTree tree;
        std::string error;
        EXPECT_FALSE(collect_input(in.path(), c.main, &tree, &error, c.excludes)) << c.main;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

}  // namespace
