// The project file: every key sets its option, the command line overrides
// it, the file in the input directory is found and left out of the block,
// and every fault is one line naming the file, the line and the key.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "command_line.h"
#include "fixture.h"
#include "launcher/identity_defaults.h"

namespace {

bool parse(std::vector<std::string> args, CommandLine* line, std::string* error) {
    std::vector<const char*> argv = {"zembra"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return parse_command_line(static_cast<int>(argv.size()), argv.data(), line, error);
}

TEST(ProjectFile, EveryKeySetsItsOption) {
    ScratchDir dir;
    dir.write("zembra.toml", R"(# paths of files are relative to this file
input = "app"
output = "dist/App.exe"
main = "bin/app.exe"
exclude = ["*.pdb", "/docs/"]
target = "windows"
company = "Acme"
product = "Rocket"
version = "2.3.4"
unpack-spec = '{TEMP}\rocket'
description = "D"
original-filename = "O.exe"
internal-name = "I"
icon = [
  "art/app.ico",
  "/art/pngs",
]
level = 3
window-log = 20
threads = 2
layout = "single-frame"
frame-size = 5
)");
    CommandLine line;
    std::string error;
    ASSERT_TRUE(parse({"build", "--config", dir / "zembra.toml"}, &line, &error)) << error;
    EXPECT_EQ(line.input, dir / "app");
    EXPECT_EQ(line.output, dir / "dist/App.exe");
    EXPECT_EQ(line.main, "bin/app.exe");   // inside the input, as on the command line
    EXPECT_EQ(line.excludes, (std::vector<std::string>{"*.pdb", "/docs/"}));
    EXPECT_EQ(line.target, "windows");
    EXPECT_EQ(line.identity.company, "Acme");
    EXPECT_EQ(line.identity.product, "Rocket");
    EXPECT_EQ(line.identity.version, "2.3.4");
    EXPECT_EQ(line.identity.unpack_spec, "{TEMP}\\rocket");
    EXPECT_EQ(line.identity.description, "D");
    EXPECT_EQ(line.identity.original_filename, "O.exe");
    EXPECT_EQ(line.identity.internal_name, "I");
    EXPECT_EQ(line.identity.icons, (std::vector<std::string>{dir / "art/app.ico", "/art/pngs"}));
    EXPECT_EQ(line.compression.level, 3);
    EXPECT_EQ(line.compression.window_log, 20);
    EXPECT_EQ(line.compression.threads, 2);
    EXPECT_EQ(line.compression.layout, BlockLayout::single_frame);
    EXPECT_EQ(line.compression.frame_target, 5u << 20);
    EXPECT_EQ(line.from_file.size(), 18u);
    EXPECT_EQ(line.from_file["--level"], dir / "zembra.toml:18: 'level'");

    // A file of its own for the target, whose default spec follows it.
    dir.write("linux.toml", "target = \"linux\"\n");
    ASSERT_TRUE(parse({"build", "in", "-o", "app", "--config", dir / "linux.toml"}, &line, &error)) << error;
    EXPECT_EQ(line.target, "linux");
    EXPECT_EQ(line.identity.unpack_spec, default_linux_unpack_spec);
}

// zembra.toml in the input directory is read without --config and never
// packed; another file named with --config takes its place.
TEST(ProjectFile, TheFileInTheInputDirectoryIsReadAndLeftOut) {
    ScratchDir dir;
    dir.write("app/zembra.toml", "product = \"Rocket\"\noutput = \"../Rocket.exe\"\n");
    dir.write("other.toml", "level = 4\n");
    CommandLine line;
    std::string error;
    ASSERT_TRUE(parse({"build", dir / "app"}, &line, &error)) << error;
    EXPECT_EQ(line.output, dir / "app/../Rocket.exe");
    EXPECT_EQ(line.identity.description, "Rocket");   // the defaults follow a product from the file
    EXPECT_EQ(line.identity.original_filename, "Rocket.exe");
    EXPECT_EQ(line.identity.unpack_spec, "{CACHE_DIR}\\Rocket\\{VERSION}");
    EXPECT_EQ(line.excludes, std::vector<std::string>{"/zembra.toml"});

    ASSERT_TRUE(parse({"pack", dir / "app", "-o", "b", "--config", dir / "app/zembra.toml"}, &line, &error)) << error;
    EXPECT_EQ(line.excludes, std::vector<std::string>{"/zembra.toml"});

    ASSERT_TRUE(parse({"pack", dir / "app", "-o", "b", "--config", dir / "other.toml"}, &line, &error)) << error;
    EXPECT_EQ(line.compression.level, 4);
    EXPECT_EQ(line.identity.product, default_product);
    EXPECT_TRUE(line.excludes.empty());
}

TEST(ProjectFile, TheCommandLineOverridesTheFile) {
    ScratchDir in;
    in.write("zembra.toml", R"(level = 3
product = "Rocket"
description = "From the file"
exclude = ["*.pdb"]
icon = ["app.ico"]
target = "linux"
)");
    CommandLine line;
    std::string error;
    ASSERT_TRUE(parse({"build", in.path(), "-o", "x.exe", "--level", "5", "--exclude", "*.log", "--product", "Other",
                       "--target", "windows"},
                      &line, &error))
        << error;
    EXPECT_EQ(line.compression.level, 5);
    EXPECT_EQ(line.excludes, (std::vector<std::string>{"*.log", "/zembra.toml"}));
    EXPECT_EQ(line.identity.product, "Other");
    EXPECT_EQ(line.identity.description, "From the file");
    EXPECT_EQ(line.identity.internal_name, "Other");
    EXPECT_EQ(line.identity.unpack_spec, "{CACHE_DIR}\\Other\\{VERSION}");
    EXPECT_EQ(line.identity.icons, std::vector<std::string>{in / "app.ico"});
    EXPECT_EQ(line.target, "windows");
    EXPECT_EQ(line.from_file.count("--level"), 0u);
    EXPECT_EQ(line.from_file.count("--description"), 1u);

    // pack has no identity and no target, but a file may hold them.
    ASSERT_TRUE(parse({"pack", in.path(), "-o", "b"}, &line, &error)) << error;
    EXPECT_EQ(line.compression.level, 3);
}

TEST(ProjectFile, EachFaultNamesTheFileTheLineAndTheKey) {
    const struct {
        const char* text;
        const char* expected;   // what follows the file's name
        std::vector<std::string> options = {};
    } cases[] = {
        {"level = 3\nprodcut = \"X\"\n", ":2: unknown key 'prodcut'"},
        {"[identity]\ncompany = \"A\"\n", ":1: unknown key 'identity'"},
        {"level = \"19\"", ":1: 'level' takes a whole number from 1 to 22, not \"19\""},
        {"\n\nlevel = 23", ":3: 'level' takes a whole number from 1 to 22, not 23"},
        {"window-log = 9", ":1: 'window-log' takes a whole number from 10 to 27, not 9"},
        {"threads = 1.5", ":1: 'threads' takes a whole number from 1 to "},
        {"company = 12", ":1: 'company' takes a string, not 12"},
        {"main = [\"a.exe\"]", ":1: 'main' takes a string, not a list"},
        {"company = \"\"", ":1: 'company' must not be empty"},
        {"version = \"1.2\"", ":1: 'version' \"1.2\" must be three dot-separated numbers from 0 to 65535"},
        {"unpack-spec = '{CACHE}\\x'", ":1: 'unpack-spec' \"{CACHE}\\x\": unknown placeholder {CACHE}"},
        {"target = \"macos\"", ":1: 'target' takes windows or linux, not \"macos\""},
        {"layout = \"tar\"", ":1: 'layout' takes single-frame or indexed, not \"tar\""},
        {"frame-size = 0", ":1: 'frame-size' takes a whole number from 1 to 4096, not 0"},
        {"exclude = \"*.pdb\"", ":1: 'exclude' takes a list of strings, not \"*.pdb\""},
        {"exclude = [\n  \"*.pdb\",\n  3,\n]", ":1: 'exclude' takes a list of strings, not 3"},
        {"exclude = ['bin\\x.dll']", ":1: 'exclude' \"bin\\x.dll\" cannot be used: it holds a backslash"},
        {"icon = [{ path = \"a.ico\" }]", ":1: 'icon' takes a list of strings, not a table"},
        {"output = \"\"", ":1: 'output' must not name an empty path"},
        {"product = \"A:B\"", ":1: 'product' \"A:B\" cannot name the unpack folder"},
        // Judged on its own, whatever the command line overrides.
        {"level = 99", ":1: 'level' takes a whole number", {"--level", "3"}},
        // Syntax, as the TOML reader words it.
        {"\n\nlevel = = 3", ":3: "},
        {"level = 3\nlevel = 4", ":2: "},
        {"company = \"open", ":1: "},
        // Texts echoed from the file stay on one line.
        {"level = 3 in\n", ":1: "},
        // Non-ASCII between tokens (the TOML reader's whitespace test).
        {"lev\u00b6 = 1", ":1: "},
        {"level = 3 \u00e9", ":1: "},
        {"unpack-spec = \"{A\\nB}\"", ":1: 'unpack-spec' \"{A\\x0AB}\": unknown placeholder {A\\x0AB}"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("project.toml", c.text);
        const std::string file = dir / "project.toml";
        std::vector<std::string> args = {"build", "in", "-o", "x.exe", "--config", file};
        args.insert(args.end(), c.options.begin(), c.options.end());
        CommandLine line;
        std::string error;
        EXPECT_FALSE(parse(args, &line, &error)) << c.text;
        EXPECT_EQ(error.substr(0, file.size() + std::strlen(c.expected)), file + c.expected) << c.text;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(ProjectFile, ADirectoryOrAMissingFileIsRefused) {
    ScratchDir dir;
    dir.mkdir("in/zembra.toml");
    CommandLine line;
    std::string error;
    EXPECT_FALSE(parse({"pack", dir / "in", "-o", "b"}, &line, &error));
    EXPECT_EQ(error, "project file '" + dir / "in/zembra.toml" + "' is a directory");
    EXPECT_FALSE(parse({"pack", "in", "-o", "b", "--config", dir.path()}, &line, &error));
    EXPECT_EQ(error, "project file '" + dir.path() + "' is a directory");
    EXPECT_FALSE(parse({"build", "--config", dir / "none.toml"}, &line, &error));
    EXPECT_NE(error.find("'" + dir / "none.toml" + "': No such file or directory"), std::string::npos) << error;
    // Without a file to give them, the input and the output are still needed.
    EXPECT_FALSE(parse({"build", "-o", "x"}, &line, &error));
    EXPECT_NE(error.find("missing the input directory"), std::string::npos) << error;
    EXPECT_FALSE(parse({"build", dir.path()}, &line, &error));
    EXPECT_NE(error.find("missing the output file"), std::string::npos) << error;
}

}  // namespace
