// The command line and the identity values: what is accepted, the
// defaults, and a one-line reason naming the option for everything refused.
#include <gtest/gtest.h>

#include <vector>

#include "command_line.h"
#include "host.h"
#include "identity_check.h"
#include "derived_identity.h"
#include "launcher/identity_defaults.h"
#include "payload/block_format.h"

namespace {

bool parse(std::vector<const char*> args, CommandLine* line, std::string* error) {
    args.insert(args.begin(), "zembra");
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
    EXPECT_EQ(line.compression.threads, online_cores());
    EXPECT_GE(online_cores(), 1);
    EXPECT_EQ(line.compression.layout, default_layout);
    EXPECT_EQ(line.compression.frame_target, default_frame_target);

    ASSERT_TRUE(parse({"build", "--main=bin/a.exe", "in", "--output", "App.exe", "--company", "Acme", "--product=P",
                       "--version", "2.3.4", "--unpack-spec", "{TEMP}\\x", "--description", "D",
                       "--original-filename", "O.exe", "--internal-name", "I", "--icon", "a.ico", "--icon", "pngs",
                       "--level", "3", "--window-log", "20", "--threads", "2", "--layout", "single-frame",
                       "--frame-size", "5", "--exclude", "*.pdb", "--exclude=/docs/"},
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
    EXPECT_EQ(line.compression.layout, BlockLayout::single_frame);
    EXPECT_EQ(line.compression.frame_target, 5u << 20);
    EXPECT_EQ(line.excludes, (std::vector<std::string>{"*.pdb", "/docs/"}));
    ASSERT_TRUE(parse({"pack", "in", "-o", "b", "--layout=indexed", "--frame-size=4096"}, &line, &error)) << error;
    EXPECT_EQ(line.compression.layout, BlockLayout::indexed);
    EXPECT_EQ(line.compression.frame_target, 4096ull << 20);

    ASSERT_TRUE(parse({"link", "-o", "x.exe", "--", "-block-with-dash"}, &line, &error)) << error;
    EXPECT_EQ(line.input, "-block-with-dash");
    ASSERT_TRUE(parse({"pack", "in", "--bogus", "--help"}, &line, &error));
    EXPECT_EQ(line.command, "help");
    EXPECT_NE(line.help.find("Usage: zembra pack"), std::string::npos) << line.help;
    ASSERT_TRUE(parse({"help", "link"}, &line, &error)) << error;
    EXPECT_EQ(line.command, "help");
    EXPECT_NE(line.help.find("Usage: zembra link"), std::string::npos) << line.help;
    ASSERT_TRUE(parse({"--version"}, &line, &error)) << error;
    EXPECT_EQ(line.command, "version");

    // The commands that look into a launcher take it and nothing of packing;
    // a flag after the launcher is a flag, not an option missing its value.
    ASSERT_TRUE(parse({"list", "App.exe", "--json"}, &line, &error)) << error;
    EXPECT_EQ(line.command, "list");
    EXPECT_EQ(line.input, "App.exe");
    EXPECT_TRUE(line.json);
    ASSERT_TRUE(parse({"extract", "-o", "out", "App.exe"}, &line, &error)) << error;
    EXPECT_EQ(line.command, "extract");
    EXPECT_EQ(line.output, "out");
    EXPECT_FALSE(line.json);
    for (const char* command : {"verify", "info"}) {
        ASSERT_TRUE(parse({command, "App.exe"}, &line, &error)) << error;
        EXPECT_EQ(line.command, command);
    }
}

// What follows an option is its value only when it is not an option itself;
// `--name=` gives an empty value; numbers are decimal; the last of a
// repeated option counts.
TEST(CommandLine, ValuesAreTakenAsWritten) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(parse({"build", "in", "--company=", "-o", "a", "--level", "010", "--level", "012", "--main", "-"},
                      &line, &error))
        << error;
    EXPECT_EQ(line.identity.company, "");
    EXPECT_EQ(line.output, "a");
    EXPECT_EQ(line.compression.level, 12);
    EXPECT_EQ(line.main, "-");
    ASSERT_TRUE(parse({"pack", "in", "--output=--main"}, &line, &error)) << error;
    EXPECT_EQ(line.output, "--main");

    for (std::vector<const char*> args : {std::vector<const char*>{"build", "in", "-o", "--main", "x.exe"},
                                          std::vector<const char*>{"link", "b", "--company", "--product", "P"}}) {
        EXPECT_FALSE(parse(args, &line, &error)) << args[2];
        EXPECT_EQ(error, std::string("option ") + args[2] + " needs a value (" + args[3] + " is an option; write " +
                             args[2] + "=VALUE)");
    }
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

// With --product the description, internal name, original file name and
// unpack folder follow it, unless given; without it everything keeps the
// built-in value, whatever else is given.
TEST(CommandLine, IdentityDefaultsFollowTheProduct) {
    struct Case {
        std::vector<const char*> args;
        const char* description;
        const char* internal_name;
        const char* original_filename;
        const char* spec;
    };
    const std::string snowman = "Zo\xC3\xAB \xE2\x98\x83";   // Zoë ☃
    const Case cases[] = {
        {{"link", "b", "-o", "out/App.exe"},
         default_description, default_internal_name, default_original_filename, default_unpack_spec},
        {{"build", "in", "-o", "App.exe", "--company", "Acme", "--version", "2.0.0"},
         default_description, default_internal_name, default_original_filename, default_unpack_spec},
        {{"build", "in", "-o", "out/Rocket.exe", "--product", "Rocket"},
         "Rocket", "Rocket", "Rocket.exe", "{CACHE_DIR}\\Rocket\\{VERSION}"},
        {{"build", "in", "--product", snowman.c_str(), "-o", "App.exe"},
         snowman.c_str(), snowman.c_str(), "App.exe", "{CACHE_DIR}\\Zo\xC3\xAB \xE2\x98\x83\\{VERSION}"},
        {{"build", "in", "-o", "dir/rocket", "--target", "linux", "--product", "Rocket"},
         "Rocket", "Rocket", "rocket", "{CACHE_DIR}/Rocket/{VERSION}"},
        {{"link", "b", "-o", "App.exe", "--product", "Rocket", "--description", "D", "--internal-name", "I",
          "--original-filename", "O.exe", "--unpack-spec", "{TEMP}\\x"},
         "D", "I", "O.exe", "{TEMP}\\x"},
        // Given a spec, the product need not be a folder name.
        {{"link", "b", "-o", "App.exe", "--product", "A:B", "--unpack-spec", "{TEMP}\\x"},
         "A:B", "A:B", "App.exe", "{TEMP}\\x"},
    };
    for (const Case& c : cases) {
        CommandLine line;
        std::string error;
        ASSERT_TRUE(parse(c.args, &line, &error)) << c.args[2] << ": " << error;
        EXPECT_EQ(line.identity.description, c.description);
        EXPECT_EQ(line.identity.internal_name, c.internal_name);
        EXPECT_EQ(line.identity.original_filename, c.original_filename);
        EXPECT_EQ(line.identity.unpack_spec, c.spec);
    }
    // The shape of the derived spec is the built-in one's.
    EXPECT_EQ(unpack_spec_in("Quenlith", '\\'), default_unpack_spec);
    EXPECT_EQ(unpack_spec_in("Quenlith", '/'), default_linux_unpack_spec);
}

// A product that cannot be a Windows folder name as it is, when it would
// name the unpack folder, is refused in one line.
TEST(CommandLine, ProductThatCannotNameAFolderIsRefused) {
    const std::string longest(255, 'p');
    for (const std::string& good : {longest, std::string(" lead"), std::string("a.b c"), std::string("CONSOLE"),
                                    std::string("LPT")}) {
        CommandLine line;
        std::string error;
        EXPECT_TRUE(parse({"link", "b", "-o", "a.exe", "--product", good.c_str()}, &line, &error)) << good << ": " << error;
    }
    const std::string too_long(256, 'p');
    for (const std::string& bad : {std::string("A:B"), std::string("A/B"), std::string("A\\B"), std::string("what?"),
                                   std::string("<x>"), std::string("a|b"), std::string("a*"), std::string("say \"hi\""),
                                   std::string("tab\there"), std::string("Rocket."), std::string("Rocket "),
                                   std::string("CON"), std::string("nul.txt"), std::string("Com1"), std::string("LPT9.log"),
                                   std::string("a{b}"), std::string("{PRODUCT}"), too_long}) {
        CommandLine line;
        std::string error;
        EXPECT_FALSE(parse({"build", "in", "-o", "a.exe", "--product", bad.c_str()}, &line, &error)) << bad;
        EXPECT_EQ(error.find("--product \""), 0u) << error;
        EXPECT_NE(error.find("cannot name the unpack folder: it "), std::string::npos) << error;
        EXPECT_NE(error.find("--unpack-spec"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
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
        {{"pack", "in", "-o", "b", "--company", "X"}, "option --company does not apply to 'zembra pack'"},
        {{"link", "b", "-o", "a.exe", "--level", "3"}, "option --level does not apply to 'zembra link'"},
        {{"link", "b", "-o", "a.exe", "--main", "a.exe"}, "option --main does not apply"},
        {{"pack", "in", "-o", "b", "--level", "0"}, "option --level takes a whole number from 1 to 22, not '0'"},
        {{"pack", "in", "-o", "b", "--level", "23"}, "option --level takes"},
        {{"pack", "in", "-o", "b", "--level", "fast"}, "option --level takes"},
        {{"pack", "in", "-o", "b", "--window-log", "28"}, "option --window-log takes a whole number from 10 to 27"},
        {{"pack", "in", "-o", "b", "--window-log", "9"}, "option --window-log takes"},
        {{"pack", "in", "-o", "b", "--window-log="}, "option --window-log takes"},
        {{"pack", "in", "-o", "b", "--threads", "0"}, "option --threads takes"},
        {{"pack", "in", "-o", "b", "--threads", "2x"}, "option --threads takes"},
        {{"pack", "in", "-o", "b", "--layout", "frames"}, "option --layout takes single-frame or indexed, not 'frames'"},
        {{"link", "b", "-o", "a.exe", "--layout", "indexed"}, "option --layout does not apply to 'zembra link'"},
        {{"pack", "in", "-o", "b", "--frame-size", "0"}, "option --frame-size takes a whole number from 1 to 4096"},
        {{"pack", "in", "-o", "b", "--frame-size", "4097"}, "option --frame-size takes"},
        {{"pack", "-o", "b"}, "missing the input directory"},
        {{"link", "-o", "b"}, "missing the block file"},
        {{"pack", "in"}, "missing the output file: pass -o"},
        {{"pack", "in", "other", "-o", "b"}, "unexpected argument 'other'"},
        {{"build", "in", "-o", "a", "--target", "macos"}, "option --target takes windows or linux, not 'macos'"},
        {{"pack", "in", "-o", "b", "--target", "linux"}, "option --target does not apply to 'zembra pack'"},
        {{"pack", "in", "-o", "b", "--exclude", "*.pdb", "--exclude", "a//b"},
         "option --exclude 'a//b' cannot be used: it has an empty component"},
        {{"link", "b", "-o", "a.exe", "--exclude", "*.pdb"}, "option --exclude does not apply to 'zembra link'"},
        {{"list"}, "missing the launcher to look into"},
        {{"extract", "App.exe"}, "missing the directory to extract into: pass -o"},
        {{"extract", "App.exe", "-o"}, "option -o needs a value"},
        {{"verify", "App.exe", "--json"}, "option --json does not apply to 'zembra verify'"},
        {{"info", "App.exe", "--level", "3"}, "option --level does not apply to 'zembra info'"},
        {{"list", "a.exe", "b.exe"}, "unexpected argument 'b.exe' (only one launcher is taken)"},
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
        // Valid UTF-8, but the launcher would stop reading at the NUL.
        identity.*field.member = std::string("1.2.3\0x", 7);
        EXPECT_FALSE(check_identity(identity, &error)) << field.option;
        EXPECT_EQ(error, std::string(field.option) + " \"1.2.3\\x00x\" holds a NUL character");
    }
}

}  // namespace
