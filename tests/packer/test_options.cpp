// The command line and the identity values: what is accepted, the
// defaults, and a one-line reason naming the option for everything refused.
#include <gtest/gtest.h>

#include <vector>

#include "command_line.h"
#include "identity_check.h"
#include "payload/block_format.h"

namespace {

bool parse(std::vector<const char*> args, CommandLine* line, std::string* error) {
    args.insert(args.begin(), "packer");
    return parse_command_line(static_cast<int>(args.size()), args.data(), line, error);
}

TEST(CommandLine, DefaultsAndEveryOption) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(parse({"pack", "in", "-o", "block.bin"}, &line, &error)) << error;
    EXPECT_EQ(line.command, "pack");
    EXPECT_EQ(line.input, "in");
    EXPECT_EQ(line.output, "block.bin");
    EXPECT_EQ(line.main, "");
    EXPECT_EQ(line.compression.level, 19);
    EXPECT_EQ(line.compression.window_log, 27);
    EXPECT_EQ(line.compression.threads, default_threads());
    EXPECT_GE(default_threads(), 1);

    ASSERT_TRUE(parse({"build", "--main=bin/a.exe", "in", "--output", "App.exe", "--company", "Acme", "--product=P",
                       "--version", "2.3.4", "--unpack-spec", "{TEMP}\\x", "--description", "D",
                       "--original-filename", "O.exe", "--internal-name", "I", "--icon", "a.ico", "--icon", "pngs",
                       "--level", "3", "--window-log", "20", "--threads", "2"},
                      &line, &error))
        << error;
    EXPECT_EQ(line.command, "build");
    EXPECT_EQ(line.input, "in");
    EXPECT_EQ(line.output, "App.exe");
    EXPECT_EQ(line.main, "bin/a.exe");
    EXPECT_EQ(line.identity.company, "Acme");
    EXPECT_EQ(line.identity.product, "P");
    EXPECT_EQ(line.identity.version, "2.3.4");
    EXPECT_EQ(line.identity.unpack_spec, "{TEMP}\\x");
    EXPECT_EQ(line.identity.description, "D");
    EXPECT_EQ(line.identity.original_filename, "O.exe");
    EXPECT_EQ(line.identity.internal_name, "I");
    EXPECT_EQ(line.identity.icons, (std::vector<std::string>{"a.ico", "pngs"}));
    EXPECT_EQ(line.compression.level, 3);
    EXPECT_EQ(line.compression.window_log, 20);
    EXPECT_EQ(line.compression.threads, 2);

    ASSERT_TRUE(parse({"link", "-o", "x.exe", "--", "-block-with-dash"}, &line, &error)) << error;
    EXPECT_EQ(line.input, "-block-with-dash");
    ASSERT_TRUE(parse({"pack", "in", "--bogus", "--help"}, &line, &error));
    EXPECT_EQ(line.command, "help");
}

// The default spec follows the target's separator; a spec the user gave is
// kept as written, whichever order the options come in.
TEST(CommandLine, TargetChoosesTheDefaultUnpackSpecOnly) {
    struct Case {
        std::vector<const char*> args;
        const char* target;
        const char* spec;
    };
    const Case cases[] = {
        {{"link", "b", "-o", "a"}, "windows", default_unpack_spec},
        {{"link", "b", "-o", "a", "--target", "windows"}, "windows", default_unpack_spec},
        {{"link", "b", "-o", "a", "--target=linux"}, "linux", default_linux_unpack_spec},
        {{"build", "in", "-o", "a", "--unpack-spec", "{TEMP}\\x", "--target", "linux"}, "linux", "{TEMP}\\x"},
        {{"build", "in", "-o", "a", "--target", "linux", "--unpack-spec", "{HOME}/y"}, "linux", "{HOME}/y"},
    };
    for (const Case& c : cases) {
        CommandLine line;
        std::string error;
        ASSERT_TRUE(parse(c.args, &line, &error)) << error;
        EXPECT_EQ(line.target, c.target);
        EXPECT_EQ(line.identity.unpack_spec, c.spec);
    }
}

TEST(CommandLine, RefusedWithAReasonNamingTheOption) {
    struct Case {
        std::vector<const char*> args;
        const char* expected;
    };
    const Case cases[] = {
        {{"unpack", "in", "-o", "b"}, "unknown command 'unpack'"},
        {{"pack", "in", "-o", "b", "--bogus"}, "unknown option --bogus"},
        {{"pack", "in", "-o"}, "option -o needs a value"},
        {{"build", "in", "-o", "a.exe", "--main"}, "option --main needs a value"},
        {{"pack", "in", "-o", "b", "--company", "X"}, "option --company does not apply to 'packer pack'"},
        {{"link", "b", "-o", "a.exe", "--level", "3"}, "option --level does not apply to 'packer link'"},
        {{"link", "b", "-o", "a.exe", "--main", "a.exe"}, "option --main does not apply"},
        {{"pack", "in", "-o", "b", "--level", "0"}, "option --level takes a whole number from 1 to 22, not '0'"},
        {{"pack", "in", "-o", "b", "--level", "23"}, "option --level takes"},
        {{"pack", "in", "-o", "b", "--level", "fast"}, "option --level takes"},
        {{"pack", "in", "-o", "b", "--window-log", "28"}, "option --window-log takes a whole number from 10 to 27"},
        {{"pack", "in", "-o", "b", "--window-log", "9"}, "option --window-log takes"},
        {{"pack", "in", "-o", "b", "--window-log="}, "option --window-log takes"},
        {{"pack", "in", "-o", "b", "--threads", "0"}, "option --threads takes"},
        {{"pack", "in", "-o", "b", "--threads", "2x"}, "option --threads takes"},
        {{"pack", "-o", "b"}, "missing the input directory"},
        {{"link", "-o", "b"}, "missing the block file"},
        {{"pack", "in"}, "missing the output file: pass -o"},
        {{"pack", "in", "other", "-o", "b"}, "unexpected argument 'other'"},
        {{"build", "in", "-o", "a", "--target", "macos"}, "option --target takes windows or linux, not 'macos'"},
        {{"pack", "in", "-o", "b", "--target", "linux"}, "option --target does not apply to 'packer pack'"},
    };
    for (const Case& c : cases) {
        CommandLine line;
        std::string error;
        std::string shown;
        for (const char* arg : c.args) shown += std::string(arg) + " ";
        EXPECT_FALSE(parse(c.args, &line, &error)) << shown;
        EXPECT_NE(error.find(c.expected), std::string::npos) << shown << "-> " << error;
    }
}

TEST(Identity, Versions) {
    for (const char* good : {"1.0.20", "0.0.0", "65535.65535.65535", "01.2.3"}) {
        EXPECT_TRUE(is_valid_version(good)) << good;
    }
    for (const char* bad : {"", "1.0", "1.0.20.0", "1.0.65536", "1..2", "a.b.c", "1.0.-1", "1.0.+1", " 1.0.2",
                            "1.0.2 ", "1.0.2.", "99999999999999999999.0.0"}) {
        EXPECT_FALSE(is_valid_version(bad)) << bad;
    }
}

TEST(Identity, UnpackSpecsNameOnlyPlaceholdersTheLauncherKnows) {
    std::string error;
    for (const char* good : {"{CACHE_DIR}\\Quenlith\\{VERSION}", "{temp}\\x", "C:\\fixed\\path", "{Program_Dir}\\{PID}",
                             "{HOME}\\{COMPANY}\\{PRODUCT}\\{FILE_VERSION}\\{PRODUCT_VERSION}\\{RANDOM}{TIME}{TIME_US}",
                             "{TEMP}\\{PROGRAM_BASE}\\{PROGRAM}"}) {
        EXPECT_TRUE(check_unpack_spec(good, &error)) << good << ": " << error;
    }
    struct Case {
        const char* spec;
        const char* expected;
    };
    const Case cases[] = {
        {"{CACHE}\\x", "unknown placeholder {CACHE}"},
        {"{}\\x", "unknown placeholder {}"},
        {"{TEMPX}", "unknown placeholder {TEMPX}"},
        {"{CACHE_DIR\\x", "placeholder not closed"},
        {"x}", "\"}\" without \"{\""},
        {"{AB{TEMP}", "opens inside another"},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(check_unpack_spec(c.spec, &error)) << c.spec;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.spec << ": " << error;
        EXPECT_NE(error.find("--unpack-spec"), std::string::npos) << error;
    }
    EXPECT_FALSE(check_unpack_spec(std::string(path_capacity, 'x'), &error));
    EXPECT_TRUE(check_unpack_spec(std::string(path_capacity - 1, 'x'), &error));
}

TEST(Identity, EveryTextMustBeNonEmptyUtf8) {
    std::string error;
    ASSERT_TRUE(check_identity(Identity(), &error)) << error;
    Identity unicode;
    unicode.company = "Zo\xC3\xAB & Co \xF0\x9F\x98\x80";
    EXPECT_TRUE(check_identity(unicode, &error)) << error;

    struct Field {
        const char* option;
        std::string Identity::*member;
    };
    const Field fields[] = {
        {"--company", &Identity::company},
        {"--product", &Identity::product},
        {"--version", &Identity::version},
        {"--unpack-spec", &Identity::unpack_spec},
        {"--description", &Identity::description},
        {"--original-filename", &Identity::original_filename},
        {"--internal-name", &Identity::internal_name},
    };
    // A lone continuation byte, a cut sequence, an overlong form, a surrogate.
    const std::string invalid[] = {"a\x80", "a\xC3", "\xC0\xAF", "\xED\xA0\x80"};
    for (const Field& field : fields) {
        Identity identity;
        identity.*field.member = "";
        EXPECT_FALSE(check_identity(identity, &error)) << field.option;
        EXPECT_EQ(error, std::string(field.option) + " must not be empty");
        for (const std::string& bad : invalid) {
            identity.*field.member = bad;
            EXPECT_FALSE(check_identity(identity, &error)) << field.option;
            EXPECT_NE(error.find(std::string(field.option) + " \""), std::string::npos) << error;
            EXPECT_NE(error.find("is not valid UTF-8"), std::string::npos) << error;
        }
    }
}

}  // namespace
