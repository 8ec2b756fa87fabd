#include "command_line.h"

#include <unistd.h>
#include <zstd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "launcher/identity_defaults.h"
#include "link_linux.h"

namespace {

enum Applies { kPack = 1, kLink = 2, kBuild = 4 };

struct OptionSpec {
    const char* name;
    int applies;   // the commands that take it
};

const OptionSpec option_specs[] = {
    {"-o", kPack | kLink | kBuild},
    {"--output", kPack | kLink | kBuild},
    {"--main", kPack | kBuild},
    {"--level", kPack | kBuild},
    {"--window-log", kPack | kBuild},
    {"--threads", kPack | kBuild},
    {"--company", kLink | kBuild},
    {"--product", kLink | kBuild},
    {"--version", kLink | kBuild},
    {"--unpack-spec", kLink | kBuild},
    {"--description", kLink | kBuild},
    {"--original-filename", kLink | kBuild},
    {"--internal-name", kLink | kBuild},
    {"--icon", kLink | kBuild},
    {"--target", kLink | kBuild},
};

bool parse_int(const std::string& option, const std::string& text, int low, int high, int* value,
               std::string* error) {
    errno = 0;
    char* end = nullptr;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno != 0 || number < low || number > high) {
        *error = "option " + option + " takes a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not '" + text + "'";
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

bool apply_option(const std::string& name, const std::string& value, CommandLine* line, std::string* error) {
    Identity& id = line->identity;
    CompressionSettings& c = line->compression;
    if (name == "-o" || name == "--output") line->output = value;
    else if (name == "--main") line->main = value;
    else if (name == "--level") return parse_int(name, value, 1, ZSTD_maxCLevel(), &c.level, error);
    else if (name == "--window-log") return parse_int(name, value, min_window_log, max_window_log, &c.window_log, error);
    else if (name == "--threads") {
        return parse_int(name, value, 1, ZSTD_cParam_getBounds(ZSTD_c_nbWorkers).upperBound, &c.threads, error);
    }
    else if (name == "--company") id.company = value;
    else if (name == "--product") id.product = value;
    else if (name == "--version") id.version = value;
    else if (name == "--unpack-spec") id.unpack_spec = value;
    else if (name == "--description") id.description = value;
    else if (name == "--original-filename") id.original_filename = value;
    else if (name == "--internal-name") id.internal_name = value;
    else if (name == "--icon") id.icons.push_back(value);
    else if (name == "--target") {
        if (find_target(value) == nullptr) {
            *error = "option --target takes windows or linux, not '" + value + "'";
            return false;
        }
        line->target = value;
    }
    return true;
}

int command_bit(const std::string& command) {
    if (command == "pack") return kPack;
    if (command == "link") return kLink;
    if (command == "build") return kBuild;
    return 0;
}

}  // namespace

int default_threads() {
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : static_cast<int>(cores);
}

bool parse_command_line(int argc, const char* const* argv, CommandLine* line, std::string* error) {
    *line = CommandLine();
    line->compression.threads = default_threads();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            line->command = "help";
            return true;
        }
    }
    if (argc < 2) {
        *error = "no command given";
        return false;
    }
    line->command = argv[1];
    if (line->command == "help") return true;
    int bit = command_bit(line->command);
    if (bit == 0) {
        *error = "unknown command '" + line->command + "' (use pack, link or build)";
        return false;
    }
    bool have_input = false;
    bool only_positional = false;
    bool spec_given = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (only_positional || arg.empty() || arg[0] != '-' || arg == "-") {
            if (have_input) {
                *error = "unexpected argument '" + arg + "' (only one " +
                         (bit == kLink ? "block" : "input directory") + " is taken)";
                return false;
            }
            line->input = arg;
            have_input = true;
            continue;
        }
        if (arg == "--") {
            only_positional = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inline_value = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inline_value = true;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& candidate : option_specs) {
            if (name == candidate.name) spec = &candidate;
        }
        if (spec == nullptr) {
            *error = "unknown option " + name;
            return false;
        }
        if ((spec->applies & bit) == 0) {
            *error = "option " + name + " does not apply to 'packer " + line->command + "'";
            return false;
        }
        if (!inline_value) {
            if (i + 1 >= argc) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!apply_option(name, value, line, error)) return false;
        if (name == "--unpack-spec") spec_given = true;
    }
    // A spec the user wrote is taken as it is; the default speaks the
    // target's own separator.
    if (line->target == "linux" && !spec_given) line->identity.unpack_spec = default_linux_unpack_spec;
    if (!have_input) {
        *error = std::string("missing ") + (bit == kLink ? "the block file" : "the input directory") +
                 " (see packer --help)";
        return false;
    }
    if (line->output.empty()) {
        *error = "missing the output file: pass -o";
        return false;
    }
    return true;
}

const char* usage_text() {
    static const std::string text = std::string() +
           "Usage:\n"
           "  packer pack  INPUT_DIR [--main REL] -o BLOCK [packing options]\n"
           "  packer link  BLOCK -o APP.exe [--target T] [identity options]\n"
           "  packer build INPUT_DIR [--main REL] -o APP.exe [--target T] [identity options]\n"
           "               [packing options]\n"
           "\n"
           "pack writes the attached data block for a directory; link builds a launcher\n"
           "around a block file, byte for byte as given; build does both.\n"
           "\n"
           "  --target T              windows (default): a Windows x64 GUI program;\n"
           "                          linux: an x86-64 ELF program for glibc systems,\n"
           "                          which needs --main with build\n"
           "\n"
           "  -o, --output FILE       where to write the block or launcher\n"
           "  --main REL              the main executable, relative to INPUT_DIR; by default\n"
           "                          the only .exe at the top of INPUT_DIR\n"
           "\n"
           "Identity options (link, build):\n"
           "  --company TEXT          company name (default \"" + default_company + "\")\n"
           "  --product TEXT          product name (default \"" + default_product + "\")\n"
           "  --version X.Y.Z         three numbers from 0 to 65535 (default " + default_version + ")\n"
           "  --unpack-spec TEMPLATE  where the launcher unpacks\n"
           "                          (default \"" + default_unpack_spec + "\",\n"
           "                          for linux \"" + default_linux_unpack_spec + "\")\n"
           "  --description TEXT      file description in the version block\n"
           "  --original-filename N   original file name in the version block\n"
           "  --internal-name TEXT    internal name in the version block\n"
           "  --icon PATH             a .ico, a directory of PNG images, or a PNG image;\n"
           "                          repeat for several\n"
           "  A Linux launcher has no image resources: it takes --description,\n"
           "  --original-filename, --internal-name and --icon and ignores them.\n"
           "\n"
           "Packing options (pack, build):\n"
           "  --level N               zstd compression level, 1 to 22 (default 19)\n"
           "  --window-log N          zstd window log, 10 to 27 (default 27)\n"
           "  --threads N             compression workers (default: all cores); the block\n"
           "                          is the same for any count\n"
           "\n"
           "  -h, --help              show this text\n";
    return text.c_str();
}
