// Joining the launcher's arguments into the child's command line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "child/command_line.h"
#include "command_line_split.h"
#include "fake_os.h"
#include "isolated.h"
#include "launcher/state.h"

namespace {

const std::u16string module = u"C:\\Tools\\app.exe";

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
        fake_os().module_path = module;
    }

    // Builds the line for the launcher's arguments after argument 0.
    std::u16string build(const std::vector<std::u16string>& args) {
        fake_os().command_line_args = {u"typed\\name"};
        for (const auto& arg : args) fake_os().command_line_args.push_back(arg);
        build_child_command_line();
        return launcher.child_command_line;
    }
};

std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            out += "<" + std::to_string(static_cast<unsigned>(c)) + ">";
    }
    return out;
}

TEST_F(CommandLine, JoinsAndQuotesByTheSplittersRules) {
    struct Case {
        std::vector<std::u16string> args;
        std::u16string line;
    };
    const Case cases[] = {
        {{u"--mode", u"fast"}, u"C:\\Tools\\app.exe --mode fast"},
        {{}, u"C:\\Tools\\app.exe"},
        {{u"say \"hi\""}, u"C:\\Tools\\app.exe \"say \\\"hi\\\"\""},
        {{u"C:\\dir with space\\"}, u"C:\\Tools\\app.exe \"C:\\dir with space\\\\\""},
        {{u"a\\\\\"b"}, u"C:\\Tools\\app.exe \"a\\\\\\\\\\\"b\""},
        {{u"a\\\\b c"}, u"C:\\Tools\\app.exe \"a\\\\b c\""},
        {{u"sp end\\\\"}, u"C:\\Tools\\app.exe \"sp end\\\\\\\\\""},
        {{u"no\\quote\\"}, u"C:\\Tools\\app.exe no\\quote\\"},
        {{u"\""}, u"C:\\Tools\\app.exe \"\\\"\""},
        {{u"x", u"", u"y"}, u"C:\\Tools\\app.exe x  y"},
        {{u"one\rtwo"}, u"C:\\Tools\\app.exe one\rtwo"},
        // each of the other characters that force quoting, and a trailing empty argument
        {{u"a\tb", u"a\nb", u"a\vb", u""}, u"C:\\Tools\\app.exe \"a\tb\" \"a\nb\" \"a\vb\" "},
        {{u"\u00e9\u4e2d\U0001F600"}, u"C:\\Tools\\app.exe \u00e9\u4e2d\U0001F600"},
    };
    for (const Case& c : cases) {
        SetUp();
        EXPECT_EQ(narrow(build(c.args)), narrow(c.line)) << "arguments: " << c.args.size();
    }
}

TEST_F(CommandLine, ModulePathReplacesArgumentZeroAndIsQuotedLikeAnyArgument) {
    fake_os().module_path = u"C:\\Program Files\\Demo\\app.exe";
    EXPECT_EQ(narrow(build({u"x"})), narrow(u"\"C:\\Program Files\\Demo\\app.exe\" x"));
    ASSERT_EQ(launcher.child_arg_count, 2);
    EXPECT_EQ(std::u16string(launcher.child_args[0]), u"C:\\Program Files\\Demo\\app.exe");
    EXPECT_EQ(std::u16string(launcher.child_args[1]), u"x");

    // The module path is asked for once per process; a second build reuses it.
    build({u"y"});
    EXPECT_EQ(fake_os().module_path_calls, 1);
    EXPECT_EQ(narrow(launcher.child_command_line), narrow(u"\"C:\\Program Files\\Demo\\app.exe\" y"));
}

TEST_F(CommandLine, FitsExactlyTheLongestLineAndStopsAtOneUnitMore) {
    // The module path and its separator take 17 of the 32766 units.
    const size_t room = longest_command_line - module.size() - 1;
    const std::u16string x(room, u'x');
    const std::u16string quoted = u" " + std::u16string(room - 3, u'x');            // two quotes added
    const std::u16string trailing = u" " + std::u16string(room - 5, u'x') + u"\\";  // and a backslash doubled
    struct Case {
        std::vector<std::u16string> args;
        bool fits;
    };
    const Case cases[] = {
        {{x}, true},
        {{x + u"x"}, false},
        {{quoted}, true},
        {{quoted + u"x"}, false},
        {{trailing}, true},
        {{u"x" + trailing}, false},
        // an empty argument still needs its separator
        {{x.substr(1), u""}, true},
        {{x, u""}, false},
    };
    for (const Case& c : cases) {
        SetUp();
        Isolated run = run_isolated([&] {
            build(c.args);
            std::printf("built %zu", std::char_traits<char16_t>::length(launcher.child_command_line));
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.err, "");
        if (c.fits) {
            EXPECT_EQ(run.out, "built 32766");
        } else {
            EXPECT_EQ(run.exit_code, 2);
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST_F(CommandLine, StopsWithoutAMessageWhenTheModulePathOrTheSplitIsMissing) {
    struct Case {
        const char* what;
        bool module_missing;
        bool split_fails;
    };
    const Case cases[] = {{"module path", true, false}, {"split", false, true}};
    for (const Case& c : cases) {
        SetUp();
        if (c.module_missing) fake_os().module_path.reset();
        fake_os().split_fails = c.split_fails;
        Isolated run = run_isolated([&] {
            fake_os().command_line_args = {u"typed"};   // no arguments at all
            build_child_command_line();
            std::printf("returned");
        });
        EXPECT_TRUE(run.exited) << c.what;
        EXPECT_EQ(run.exit_code, 2) << c.what;
        EXPECT_EQ(run.out + run.err, "") << c.what;
    }
}

TEST(AppendQuotedArgument, AppendsToWhatIsThereOrLeavesItUnchanged) {
    char16_t line[12] = u"ab";
    EXPECT_TRUE(append_quoted_argument(line, u"c d", 12));
    EXPECT_EQ(std::u16string(line), u"ab\"c d\"");
    // "\"x y\"" needs 5 more units and its NUL: 7 + 5 + 1 > 12
    EXPECT_FALSE(append_quoted_argument(line, u"x y", 12));
    EXPECT_EQ(std::u16string(line), u"ab\"c d\"");
    EXPECT_TRUE(append_quoted_argument(line, u"", 12));
    EXPECT_EQ(std::u16string(line), u"ab\"c d\"");
}

using command_line_split::split_after_first;

TEST_F(CommandLine, SplittingTheJoinedLineGivesTheArgumentsBack) {
    const std::u16string alphabet = u"ab \t\"\\\\\\\n\v\r\u00e9\u4e2d";
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::u16string> args(random() % 7);
        for (auto& arg : args) {
            size_t length = random() % 12;
            for (size_t k = 0; k < length; ++k) {
                if (random() % 16 == 0)
                    arg += u"\U0001F600";
                else
                    arg += alphabet[random() % alphabet.size()];
            }
        }
        SetUp();
        std::u16string line = build(args);
        std::vector<std::u16string> expected;
        for (const auto& arg : args)
            if (!arg.empty()) expected.push_back(arg);
        std::vector<std::u16string> got = split_after_first(line);
        ASSERT_EQ(got, expected) << "line: " << narrow(line);
    }
}

}  // namespace
