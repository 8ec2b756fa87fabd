// Any bytes as the project file, zembra.toml. The reader either refuses it
// with one line that names the file and a line of it, or takes options that
// the command line takes too: the same values given as options to
// `zembra build` give the same command line, and a build that reads the
// file comes to the same verdict and the same values as one given them as
// options.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "block_layout.h"
#include "command_line.h"
#include "frame_encoder.h"
#include "project_file.h"
#include "utf8.h"

namespace {

// FUZZ_SHOW=1 prints each input's ending, to see what the seeds reach.
const bool show = std::getenv("FUZZ_SHOW") != nullptr;

void check(bool ok, const char* what, const std::string& shown = {}) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n%s\n", what, shown.c_str());
    std::abort();
}

// A folder of this process's own for the input file, removed at exit; the
// name is never destroyed, so the exit handler can still read it.
const std::string& work_dir() {
    static const std::string* const dir = [] {
        // In memory where there is such a file system: a file is written
        // and read for every input.
        char name[] = "/dev/shm/fuzz_project_file.XXXXXX";
        char fallback[] = "/tmp/fuzz_project_file.XXXXXX";
        const char* made = mkdtemp(name);
        if (made == nullptr) made = mkdtemp(fallback);
        if (made == nullptr) std::abort();
        std::atexit([] { std::system(("rm -rf " + work_dir()).c_str()); });
        return new std::string(made);
    }();
    return *dir;
}

bool write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

size_t lines_of(const uint8_t* data, size_t size) {
    size_t lines = 1;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    return lines;
}

// One line: every text the packer echoes is shown escaped.
bool one_line(const std::string& error) { return error.find('\n') == std::string::npos; }

// "FILE:LINE: ..." with LINE a line of the file.
bool names_file_and_line(const std::string& error, const std::string& file, size_t lines) {
    if (error.compare(0, file.size() + 1, file + ":") != 0) return false;
    size_t at = file.size() + 1, line = 0, digits = 0;
    while (at < error.size() && error[at] >= '0' && error[at] <= '9' && digits < 9) {
        line = line * 10 + static_cast<size_t>(error[at++] - '0');
        ++digits;
    }
    return digits > 0 && at < error.size() && error[at] == ':' && line >= 1 && line <= lines;
}

// The options the file gave, as they would be written on the command line.
std::vector<std::string> as_options(const CommandLine& line) {
    std::vector<std::string> args;
    for (const auto& [option, where] : line.from_file) {
        if (option == "--input") continue;   // the positional argument, last
        if (option == "--exclude" || option == "--icon") {
            for (const std::string& value : option == "--exclude" ? line.excludes : line.identity.icons)
                args.push_back(option + "=" + value);
            continue;
        }
        std::string value;
        const Identity& id = line.identity;
        const CompressionSettings& c = line.compression;
        if (option == "--output") value = line.output;
        else if (option == "--main") value = line.main;
        else if (option == "--target") value = line.target;
        else if (option == "--company") value = id.company;
        else if (option == "--product") value = id.product;
        else if (option == "--version") value = id.version;
        else if (option == "--unpack-spec") value = id.unpack_spec;
        else if (option == "--description") value = id.description;
        else if (option == "--original-filename") value = id.original_filename;
        else if (option == "--internal-name") value = id.internal_name;
        else if (option == "--level") value = std::to_string(c.level);
        else if (option == "--window-log") value = std::to_string(c.window_log);
        else if (option == "--threads") value = std::to_string(c.threads);
        else if (option == "--frame-size") value = std::to_string(c.frame_target >> frame_target_unit_log);
        else if (option == "--layout") value = layout_name(c.layout);
        else check(false, "an option taken from the file that the command line does not have");
        args.push_back(option + "=" + value);
    }
    return args;
}

bool parse(const std::vector<std::string>& args, CommandLine* line, std::string* error) {
    std::vector<const char*> argv{"zembra"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return parse_command_line(static_cast<int>(argv.size()), argv.data(), line, error);
}

bool same_values(const CommandLine& a, const CommandLine& b) {
    const Identity &x = a.identity, &y = b.identity;
    const CompressionSettings &c = a.compression, &d = b.compression;
    return a.command == b.command && a.input == b.input && a.output == b.output && a.main == b.main &&
           a.target == b.target && a.excludes == b.excludes && x.company == y.company && x.product == y.product &&
           x.version == y.version && x.unpack_spec == y.unpack_spec && x.description == y.description &&
           x.original_filename == y.original_filename && x.internal_name == y.internal_name && x.icons == y.icons &&
           c.level == d.level && c.window_log == d.window_log && c.threads == d.threads && c.layout == d.layout &&
           c.frame_target == d.frame_target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Not zembra.toml: an input directory that is the file's own must not make
    // the run with options read it as well.
    const std::string path = work_dir() + "/project.toml";
    if (!write_file(path, data, size)) std::abort();

    CommandLine line;
    std::string error;
    if (!load_project_file(path, {}, &line, &error)) {
        if (show) std::fprintf(stderr, "refused: %s\n", error.c_str());
        check(!error.empty() && one_line(error), "a refusal not in one line", error);
        check(names_file_and_line(error, printable(path), lines_of(data, size)),
              "a refusal that does not name the file and one of its lines", error);
        return 0;
    }
    for (const std::string& value : {line.input, line.output, line.main})
        check(value.find('\0') == std::string::npos, "a value the command line cannot carry");

    // A value starting with a dash would read as an option: after "--".
    std::vector<std::string> options = as_options(line);
    const std::string input = line.from_file.count("--input") ? line.input : work_dir() + "/in";
    std::vector<std::string> with_options{"build"};
    with_options.insert(with_options.end(), options.begin(), options.end());
    if (!line.from_file.count("--output")) with_options.push_back("--output=out");
    std::vector<std::string> with_file{"build", "--config=" + path};
    if (!line.from_file.count("--output")) with_file.push_back("--output=out");
    if (!line.from_file.count("--input")) with_file.insert(with_file.end(), {"--", input});
    with_options.insert(with_options.end(), {"--", input});

    CommandLine from_options, from_file;
    std::string options_error, file_error;
    const bool options_ok = parse(with_options, &from_options, &options_error);
    const bool file_ok = parse(with_file, &from_file, &file_error);
    check(options_ok == file_ok, "the file and the same options on the command line judged differently",
          options_error + " | " + file_error);
    if (show) std::fprintf(stderr, "taken: %zu options; build %s\n", line.from_file.size(), file_ok ? "accepted" : file_error.c_str());
    if (!options_ok) {
        check(one_line(file_error), "a refusal not in one line", file_error);
        return 0;
    }
    check(same_values(from_options, from_file), "the file and the same options on the command line differ");
    return 0;
}
