#include "command_line.h"

#include <zstd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <set>

#include "derived_identity.h"
#include "exclude.h"
#include "host.h"
#include "launcher/identity_defaults.h"
#include "project_file.h"
#include "stub.h"
#include "tool.h"
#include "utf8.h"

namespace {

// A flag: CLI11 keeps a flag's type size at 1 and expects no value of it.
bool takes_no_value(const CLI::Option* option) { return option->get_items_expected_max() == 0; }

std::string range_of(const NumberOption& number) {
    return std::to_string(number.low) + " to " + std::to_string(number.high);
}

// Option names joined by ", ", and each default after its description,
// taken from the value the option is bound to.
class HelpFormatter : public CLI::Formatter {
public:
    HelpFormatter() { column_width(26); }

    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        if (positional) return option->get_name(true, false);
        std::string names;
        for (const std::string& name : option->get_snames()) names += (names.empty() ? "-" : ", -") + name;
        for (const std::string& name : option->get_lnames()) names += (names.empty() ? "--" : ", --") + name;
        return names;
    }

    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_positional() || takes_no_value(option)) return "";
        return " " + option->get_type_name();
    }

    std::string make_option_desc(const CLI::Option* option) const override {
        std::string text = option->get_description();
        const std::string fallback = option->get_default_str();
        if (fallback.empty()) return text;
        const bool fits = text.find('\n') == std::string::npos && text.size() + fallback.size() < 40;
        return text + (fits ? " " : "\n") + "(default: " + fallback + ")";
    }
};

// The command line as CLI11 understands it, bound to the fields of one
// CommandLine. Values are refused with messages of the packer's own
// one-line style, the first of which is kept in `problem`.
class Description {
public:
    explicit Description(CommandLine* line);

    CLI::App app{"Packs a directory holding an application into one launcher file.", tool_name};
    CLI::App* pack = nullptr;
    CLI::App* link = nullptr;
    CLI::App* build = nullptr;
    // The commands that look into a launcher.
    CLI::App* list = nullptr;
    CLI::App* extract = nullptr;
    CLI::App* verify = nullptr;
    CLI::App* info = nullptr;
    std::string problem;
    std::string config;   // --config

    std::vector<CLI::App*> commands() const { return {pack, link, build, list, extract, verify, info}; }
    bool inspects(const CLI::App* command) const {
        return command == list || command == extract || command == verify || command == info;
    }

    CLI::App* command(const std::string& name) const {
        for (CLI::App* command : commands()) {
            if (command->get_name() == name) return command;
        }
        return nullptr;
    }

private:
    CLI::Validator whole_number(const NumberOption& number);
    CLI::Validator target_name();
    CLI::Validator exclude_pattern();
    CLI::Validator layout();
    void add_input(CLI::App* command, CommandLine* line);
    void add_packing(CLI::App* command, CommandLine* line);
    void add_identity(CLI::App* command, CommandLine* line);
    void add_inspection(CLI::App* command, CommandLine* line);
};

CLI::Validator Description::whole_number(const NumberOption& number) {
    return CLI::Validator(
        [this, option = std::string(number.option), low = number.low, high = number.high](std::string& text) {
            errno = 0;
            char* end = nullptr;
            long number = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != 0 || errno != 0 || number < low || number > high) {
                std::string reason = "option " + option + " takes a whole number from " + std::to_string(low) +
                                     " to " + std::to_string(high) + ", not '" + text + "'";
                if (problem.empty()) problem = reason;
                return reason;
            }
            // CLI11 would read a leading 0 as octal.
            text = std::to_string(number);
            return std::string();
        },
        "");
}

CLI::Validator Description::target_name() {
    return CLI::Validator(
        [this](std::string& text) {
            if (find_target(text) != nullptr) return std::string();
            std::string reason = "option --target takes windows or linux, not '" + text + "'";
            if (problem.empty()) problem = reason;
            return reason;
        },
        "");
}

CLI::Validator Description::exclude_pattern() {
    return CLI::Validator(
        [this](std::string& text) {
            std::string reason = exclude_pattern_problem(text);
            if (reason.empty()) return reason;
            reason = "option --exclude '" + printable(text) + "' cannot be used: " + reason;
            if (problem.empty()) problem = reason;
            return reason;
        },
        "");
}

CLI::Validator Description::layout() {
    return CLI::Validator(
        [this](std::string& text) {
            BlockLayout named;
            if (find_layout(text, &named)) return std::string();
            std::string reason = "option --layout takes " + layout_choices() + ", not '" + text + "'";
            if (problem.empty()) problem = reason;
            return reason;
        },
        "");
}

void Description::add_input(CLI::App* command, CommandLine* line) {
    const bool block = command == link;
    command->add_option(block ? "BLOCK" : "INPUT_DIR", line->input,
                        block ? "a block file, embedded byte for byte as given" : "the directory holding the application")
        ->required();
    command->add_option("-o,--output", line->output, block || command == build ? "where to write the launcher"
                                                                              : "where to write the block")
        ->type_name("FILE")
        ->required();
    if (block) return;
    command->add_option("--main", line->main,
                        "the main program, relative to INPUT_DIR; by default\nthe only .exe at the top of INPUT_DIR")
        ->type_name("REL");
    command->add_option("--exclude", line->excludes,
                        "leave out the paths below INPUT_DIR that match;\nrepeat for several (see the README)")
        ->type_name("GLOB")
        ->check(exclude_pattern())
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_option("--config", config,
                        std::string("the project file whose values the options override;\nby default ") +
                            project_file_name + " in INPUT_DIR when there is one")
        ->type_name("FILE");
}

void Description::add_packing(CLI::App* command, CommandLine* line) {
    const std::string group = "Packing options";
    CompressionSettings& c = line->compression;
    const NumberOption& level = number_option("--level");
    const NumberOption& window_log = number_option("--window-log");
    const NumberOption& threads = number_option("--threads");
    const NumberOption& frame_size = number_option("--frame-size");
    command->add_option("--level", c.level, "zstd compression level, " + range_of(level))
        ->type_name("N")
        ->transform(whole_number(level))
        ->capture_default_str()
        ->group(group);
    command->add_option("--window-log", c.window_log, "zstd window log, " + range_of(window_log))
        ->type_name("N")
        ->transform(whole_number(window_log))
        ->capture_default_str()
        ->group(group);
    command->add_option("--threads", c.threads, "compression workers; the block is the same\nfor any count")
        ->type_name("N")
        ->transform(whole_number(threads))
        ->default_str("one per core, " + std::to_string(c.threads) + " here")
        ->group(group);
    command->add_option_function<std::string>(
               "--layout", [&c](const std::string& name) { find_layout(name, &c.layout); },
               "indexed: the stream cut into frames listed in an\n"
               "index, so a launcher checks its files without\n"
               "decoding and decodes only what it must write;\n"
               "single-frame: one frame")
        ->type_name("L")
        ->check(layout())
        ->default_str(layout_name(c.layout))
        ->group(group);
    command->add_option_function<int>(
               "--frame-size", [&c, &frame_size](int mib) { frame_size.store(c, mib); },
               "MiB of content per frame of an indexed block,\n" + range_of(frame_size))
        ->type_name("MIB")
        ->transform(whole_number(frame_size))
        ->default_str(std::to_string(c.frame_target >> frame_target_unit_log))
        ->group(group);
}

void Description::add_identity(CLI::App* command, CommandLine* line) {
    const std::string group = "Identity options";
    Identity& id = line->identity;
    command->add_option("--target", line->target,
                        "windows: a Windows x64 GUI program;\nlinux: an x86-64 ELF program for glibc systems,\n"
                        "which needs --main with build")
        ->type_name("T")
        ->check(target_name())
        ->capture_default_str();
    command->add_option("--company", id.company, "company name")->type_name("TEXT")->capture_default_str()->group(group);
    command->add_option("--product", id.product,
                        "product name; the description, the internal name,\nthe original file name and the unpack "
                        "folder follow it")
        ->type_name("TEXT")
        ->capture_default_str()
        ->group(group);
    command->add_option("--version", id.version,
                        "the application's version: three numbers from 0\nto 65535 (" + std::string(tool_name) +
                            " --version shows the tool's own)")
        ->type_name("X.Y.Z")
        ->capture_default_str()
        ->group(group);
    command->add_option("--unpack-spec", id.unpack_spec, "where the launcher unpacks, a path template")
        ->type_name("TEMPLATE")
        ->default_str(id.unpack_spec + ",\nfor linux " + default_linux_unpack_spec + ";\nwith --product P " +
                      unpack_spec_in("P", '\\') + " (or with /)")
        ->group(group);
    // The version block's names; with --product they follow it.
    const struct {
        const char* name;
        std::string* value;
        const char* meaning;
        const char* type;
        const char* with_product;
    } names[] = {
        {"--description", &id.description, "file description", "TEXT", "the product"},
        {"--original-filename", &id.original_filename, "original file name", "NAME", "the output's file name"},
        {"--internal-name", &id.internal_name, "internal name", "TEXT", "the product"},
    };
    for (const auto& name : names) {
        command->add_option(name.name, *name.value, std::string(name.meaning) + " in the version block")
            ->type_name(name.type)
            ->default_str(std::string(name.with_product) + " with --product,\nelse " + *name.value)
            ->group(group);
    }
    command->add_option("--icon", id.icons, "a .ico, a directory of PNG images, or a PNG image;\nrepeat for several")
        ->type_name("PATH")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->default_str("the default art")
        ->group(group);
}

void Description::add_inspection(CLI::App* command, CommandLine* line) {
    command->add_option("APP", line->input, "a launcher made by " + std::string(tool_name) + ", or a block file")
        ->required();
    if (command == extract) {
        command->add_option("-o,--output", line->output, "the directory to write the files below")
            ->type_name("DIR")
            ->required();
    }
    if (command == list) command->add_flag("--json", line->json, "one JSON object, for tools");
}

Description::Description(CommandLine* line) {
    app.formatter(std::make_shared<HelpFormatter>());
    // Arguments that fit nowhere are collected and reported in the packer's
    // own words (see unexpected_argument).
    app.allow_extras();
    // The same command line on every host: on Windows a path such as
    // "/work/app" would otherwise be taken for an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    // An option given twice keeps its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag("-h,--help", "show this text");
    app.set_version_flag("--version", std::string(tool_name) + " " + tool_version, "show the tool's own version");
    app.footer(
        "Identity options become the launcher's built-in values, its version block\n"
        "and its icons. A Linux launcher has no image resources: it takes\n"
        "--description, --original-filename, --internal-name and --icon and ignores\n"
        "them.");

    pack = app.add_subcommand("pack", "writes the attached data block for a directory");
    link = app.add_subcommand("link", "builds a launcher around a block file, byte for byte as given");
    build = app.add_subcommand("build", "packs a directory and builds a launcher around it");
    for (CLI::App* command : {pack, link, build}) {
        command->footer("");
        add_input(command, line);
        if (command != link) add_packing(command, line);
        if (command != pack) add_identity(command, line);
    }
    list = app.add_subcommand("list", "lists the files a launcher carries, the main program first");
    extract = app.add_subcommand("extract", "writes the files a launcher carries below a directory");
    verify = app.add_subcommand("verify", "checks a launcher and every file in it");
    info = app.add_subcommand("info", "tells what a launcher is and where it unpacks");
    for (CLI::App* command : {list, extract, verify, info}) {
        command->footer("");
        add_inspection(command, line);
    }
}

// Whether `arg` would be read as an option rather than as a value: a dash
// and more, where a dash and a digit is a (negative) number.
bool looks_like_option(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

bool wants_help(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") return false;
        if (arg == "-h" || arg == "--help") return true;
    }
    return false;
}

// The arguments after the command, in the order CLI11 reads them (last
// first). CLI11 takes the next argument as an option's value even when it
// is an option itself, so `-o --main app.exe` would write to a file named
// "--main", and it reads `--name=` as `--name` followed by a value. Refuses
// the first, and a value missing at the end, naming the option as it was
// written; gives the second its empty value.
bool prepare_arguments(const CLI::App* command, int argc, const char* const* argv, std::vector<std::string>* args,
                       std::string* error) {
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        args->push_back(arg);
        if (arg == "--") options_end = true;
        if (options_end || command == nullptr || i < 2 || !looks_like_option(arg)) continue;
        const size_t equals = arg.find('=');
        const bool long_name = arg.compare(0, 2, "--") == 0;
        const CLI::Option* option = command->get_option_no_throw(long_name ? arg.substr(0, equals) : arg);
        if (option == nullptr || option->get_positional() || takes_no_value(option)) continue;
        if (long_name && equals != std::string::npos) {
            if (equals + 1 < arg.size()) continue;
            args->back().pop_back();
            args->push_back("");
            continue;
        }
        if (i + 1 >= argc || looks_like_option(argv[i + 1])) {
            *error = "option " + arg + " needs a value";
            if (i + 1 < argc) *error += " (" + std::string(argv[i + 1]) + " is an option; write " + arg + "=VALUE)";
            return false;
        }
        args->push_back(argv[++i]);
    }
    std::reverse(args->begin(), args->end());
    return true;
}

const char* const command_choices = "use pack, link, build, list, extract, verify or info";

// The one line for the first argument that fit nowhere.
std::string unexpected_argument(const Description& description, const CLI::App* command, const std::string& arg) {
    const std::string tool(tool_name);
    if (looks_like_option(arg)) {
        std::string name = arg.substr(0, arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos);
        for (const CLI::App* other : description.commands()) {
            if (command != nullptr && other->get_option_no_throw(name) != nullptr) {
                return "option " + name + " does not apply to '" + tool + " " + command->get_name() + "'";
            }
        }
        return "unknown option " + name;
    }
    if (command == nullptr) return "unknown command '" + arg + "' (" + command_choices + ")";
    const char* taken = command == description.link      ? "block"
                        : description.inspects(command) ? "launcher"
                                                         : "input directory";
    return "unexpected argument '" + arg + "' (only one " + taken + " is taken)";
}

// The long names of the options the command line gave ("--level").
std::set<std::string> given_options(const CLI::App* command) {
    std::set<std::string> given;
    for (const CLI::Option* option : command->get_options()) {
        if (option->count() == 0) continue;
        for (const std::string& name : option->get_lnames()) given.insert("--" + name);
    }
    return given;
}

}  // namespace

const std::vector<NumberOption>& number_options() {
    static const std::vector<NumberOption> options = {
        {"--level", 1, ZSTD_maxCLevel(), [](CompressionSettings& c, int n) { c.level = n; }},
        {"--window-log", min_window_log, max_window_log, [](CompressionSettings& c, int n) { c.window_log = n; }},
        {"--threads", 1, ZSTD_cParam_getBounds(ZSTD_c_nbWorkers).upperBound,
         [](CompressionSettings& c, int n) { c.threads = n; }},
        {"--frame-size", 1, static_cast<int>(max_frame_target >> frame_target_unit_log),
         [](CompressionSettings& c, int n) { c.frame_target = static_cast<uint64_t>(n) << frame_target_unit_log; }},
    };
    return options;
}

const NumberOption& number_option(const std::string& option) {
    for (const NumberOption& number : number_options()) {
        if (option == number.option) return number;
    }
    std::abort();   // only the names above are asked for
}

bool parse_command_line(int argc, const char* const* argv, CommandLine* line, std::string* error) {
    *line = CommandLine();
    line->compression.threads = online_cores();
    Description description(line);
    const CLI::App* command = argc >= 2 ? description.command(argv[1]) : nullptr;
    // `zembra help [COMMAND]` is asking for help too.
    const bool help_command = argc >= 2 && std::string(argv[1]) == "help";
    if (help_command) command = argc >= 3 ? description.command(argv[2]) : nullptr;
    if (help_command || wants_help(argc, argv)) {
        line->help = command != nullptr ? command->help(tool_name) : help_text();
        line->command = "help";
        return true;
    }
    std::vector<std::string> args;
    if (!prepare_arguments(command, argc, argv, &args, error)) return false;
    try {
        description.app.parse(std::move(args));
    } catch (const CLI::CallForVersion&) {
        line->command = "version";
        return true;
    } catch (const CLI::RequiredError&) {
        // Named below, after any argument that fit nowhere.
    } catch (const CLI::ParseError& failure) {
        *error = description.problem.empty() ? failure.what() : description.problem;
        return false;
    }
    // The first argument that no option or command took ("--" ends the
    // options and is kept in the list).
    for (const std::string& extra : description.app.remaining(true)) {
        if (extra == "--") continue;
        *error = unexpected_argument(description, command, extra);
        return false;
    }
    if (command == nullptr) {
        *error = std::string("no command given (") + command_choices + ")";
        return false;
    }
    line->command = command->get_name();
    // CLI11 names a missing required value only after the checks above.
    if (description.inspects(command)) {
        if (command->get_option("APP")->count() == 0) {
            *error = "missing the launcher to look into (see " + std::string(tool_name) + " " + line->command + " --help)";
            return false;
        }
        if (command == description.extract && command->get_option("-o")->count() == 0) {
            *error = "missing the directory to extract into: pass -o";
            return false;
        }
        return true;
    }
    const bool block = command == description.link;
    const std::set<std::string> on_command_line = given_options(command);
    if (!block && !load_project_file(description.config, on_command_line, line, error)) return false;
    // The project file may have given them.
    if (line->input.empty() && command->get_option(block ? "BLOCK" : "INPUT_DIR")->count() == 0) {
        *error = std::string("missing ") + (block ? "the block file" : "the input directory") + " (see " + tool_name +
                 " " + line->command + " --help)";
        return false;
    }
    if (line->output.empty() && command->get_option("-o")->count() == 0) {
        *error = "missing the output file: pass -o";
        return false;
    }
    if (command == description.pack) return true;   // no launcher, no identity
    // A value the user wrote, here or in the project file, is taken as it
    // is; the defaults follow the product, and the unpack spec speaks the
    // target's own separator.
    auto given = [&](const char* name) { return on_command_line.count(name) > 0 || line->from_file.count(name) > 0; };
    IdentityGiven identity_given;
    identity_given.product = given("--product");
    identity_given.description = given("--description");
    identity_given.original_filename = given("--original-filename");
    identity_given.internal_name = given("--internal-name");
    identity_given.unpack_spec = given("--unpack-spec");
    if (derive_identity(identity_given, line->output, line->target == "linux" ? '/' : '\\', &line->identity, error)) {
        return true;
    }
    *error = attributed(*line, *error);
    return false;
}

std::string help_text() {
    CommandLine line;
    line.compression.threads = online_cores();
    Description description(&line);
    return description.app.help("", CLI::AppFormatMode::All);
}
