#include "project_file.h"

#include <toml++/toml.h>

#include <sstream>

#include "block_layout.h"
#include "exclude.h"
#include "fd_io.h"
#include "host.h"
#include "identity_check.h"
#include "stub.h"
#include "utf8.h"

namespace {

enum class Kind {
    text,    // a string
    path,    // a string naming a file, relative to the project file's directory
    texts,   // a list of strings
    paths,   // a list of strings naming files
    number,  // a whole number in the option's range
    layout,  // the name of a block layout
};

struct Key {
    const char* name;   // also the option's long name, without its dashes
    Kind kind;
    // Where the value goes: a string for text and path keys, a list for
    // texts and paths; number keys go through number_options().
    std::string* (*text)(CommandLine&);
    std::vector<std::string>* (*list)(CommandLine&);
};

const Key keys[] = {
    {"input", Kind::path, [](CommandLine& l) { return &l.input; }, nullptr},
    {"output", Kind::path, [](CommandLine& l) { return &l.output; }, nullptr},
    {"main", Kind::text, [](CommandLine& l) { return &l.main; }, nullptr},
    {"exclude", Kind::texts, nullptr, [](CommandLine& l) { return &l.excludes; }},
    {"target", Kind::text, [](CommandLine& l) { return &l.target; }, nullptr},
    {"company", Kind::text, [](CommandLine& l) { return &l.identity.company; }, nullptr},
    {"product", Kind::text, [](CommandLine& l) { return &l.identity.product; }, nullptr},
    {"version", Kind::text, [](CommandLine& l) { return &l.identity.version; }, nullptr},
    {"unpack-spec", Kind::text, [](CommandLine& l) { return &l.identity.unpack_spec; }, nullptr},
    {"description", Kind::text, [](CommandLine& l) { return &l.identity.description; }, nullptr},
    {"original-filename", Kind::text, [](CommandLine& l) { return &l.identity.original_filename; }, nullptr},
    {"internal-name", Kind::text, [](CommandLine& l) { return &l.identity.internal_name; }, nullptr},
    {"icon", Kind::paths, nullptr, [](CommandLine& l) { return &l.identity.icons; }},
    {"level", Kind::number, nullptr, nullptr},
    {"window-log", Kind::number, nullptr, nullptr},
    {"threads", Kind::number, nullptr, nullptr},
    {"layout", Kind::layout, nullptr, nullptr},
    {"frame-size", Kind::number, nullptr, nullptr},
};

const Key* find_key(const std::string& name) {
    for (const Key& key : keys) {
        if (name == key.name) return &key;
    }
    return nullptr;
}

bool is_identity_text(const std::string& option) {
    for (const char* name : {"--company", "--product", "--version", "--unpack-spec", "--description",
                             "--original-filename", "--internal-name"}) {
        if (option == name) return true;
    }
    return false;
}

// A value as the file wrote it, or what it is when that would not fit on
// one line.
std::string shown(const toml::node& node) {
    if (node.is_array()) return "a list";
    if (node.is_table()) return "a table";
    if (const toml::value<std::string>* text = node.as_string()) return "\"" + printable(text->get()) + "\"";
    std::ostringstream text;
    node.visit([&](const auto& value) { text << value; });
    return text.str();
}

std::string directory_of(const std::string& path) {
    size_t slash = path.find_last_of(path_separators);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string relative_to(const std::string& dir, const std::string& path) {
    if (path.empty() || is_absolute_path(path) || dir == ".") return path;
    const bool separated = std::string(path_separators).find(dir.back()) != std::string::npos;
    return dir + (separated ? "" : "/") + path;
}

// Reads one key's value into `line`. `where` is "FILE:LINE: 'key'".
class KeyReader {
public:
    KeyReader(const Key& key, const std::string& where, const std::string& dir, std::string* error)
        : key_(key), option_("--" + std::string(key.name)), where_(where), dir_(dir), error_(error) {}

    bool read(const toml::node& node, bool take, CommandLine* line) {
        switch (key_.kind) {
            case Kind::text:
            case Kind::path: {
                std::string value;
                if (!read_text(node, &value)) return false;
                if (take) *key_.text(*line) = value;
                return true;
            }
            case Kind::texts:
            case Kind::paths: {
                const toml::array* items = node.as_array();
                if (items == nullptr) return refuse("takes a list of strings", node);
                std::vector<std::string> values;
                for (const toml::node& item : *items) {
                    values.emplace_back();
                    if (!read_text(item, &values.back())) return false;
                }
                if (take) *key_.list(*line) = values;
                return true;
            }
            case Kind::number:
                return read_number(node, take, line);
            case Kind::layout: {
                std::string name;
                BlockLayout layout;
                if (!read_text(node, &name)) return false;
                if (!find_layout(name, &layout)) return refuse("takes " + layout_choices(), node);
                if (take) line->compression.layout = layout;
                return true;
            }
        }
        return false;
    }

private:
    bool refuse(const std::string& wanted, const toml::node& node) {
        *error_ = where_ + " " + wanted + ", not " + shown(node);
        return false;
    }

    bool read_text(const toml::node& node, std::string* value) {
        const toml::value<std::string>* text = node.as_string();
        const bool listed = key_.kind == Kind::texts || key_.kind == Kind::paths;
        if (text == nullptr) return refuse(listed ? "takes a list of strings" : "takes a string", node);
        *value = text->get();
        std::string problem;
        if (is_identity_text(option_) && !check_identity_text(option_, *value, &problem)) {
            *error_ = where_ + problem.substr(option_.size());
            return false;
        }
        if (option_ == "--target" && find_target(*value) == nullptr) return refuse("takes windows or linux", node);
        if (option_ == "--exclude") problem = exclude_pattern_problem(*value);
        if (!problem.empty()) {
            *error_ = where_ + " " + shown(node) + " cannot be used: " + problem;
            return false;
        }
        if (key_.kind == Kind::path || key_.kind == Kind::paths) {
            if (value->empty()) {
                *error_ = where_ + " must not name an empty path";
                return false;
            }
            *value = relative_to(dir_, *value);
        }
        return true;
    }

    bool read_number(const toml::node& node, bool take, CommandLine* line) {
        const NumberOption& number = number_option(option_);
        const toml::value<int64_t>* value = node.as_integer();
        if (value == nullptr || value->get() < number.low || value->get() > number.high) {
            return refuse("takes a whole number from " + std::to_string(number.low) + " to " +
                              std::to_string(number.high),
                          node);
        }
        if (take) number.store(line->compression, static_cast<int>(value->get()));
        return true;
    }

    const Key& key_;
    const std::string option_;
    const std::string where_;
    const std::string dir_;
    std::string* error_;
};

bool same_file(const std::string& a, const std::string& b) {
    FileInfo first, second;
    return examine(a, true, &first) && examine(b, true, &second) && first.id == second.id;
}

bool read_project(const std::string& path, const std::set<std::string>& given, CommandLine* line,
                  std::string* error) {
    const std::string name = printable(path);
    FileInfo info;
    if (examine(path, true, &info) && info.kind == FileKind::directory) {
        *error = "project file '" + name + "' is a directory";
        return false;
    }
    std::string text;
    if (!read_whole_file(path, "project file '" + name + "'", &text, error)) return false;
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& failure) {
        *error = name + ":" + std::to_string(failure.source().begin.line) + ": " + printable(std::string(failure.description()));
        return false;
    }
    const std::string dir = directory_of(path);
    for (const auto& [name_key, node] : root) {
        const std::string key_name(name_key.str());
        const std::string at = name + ":" + std::to_string(name_key.source().begin.line) + ":";
        const Key* key = find_key(key_name);
        if (key == nullptr) {
            *error = at + " unknown key '" + printable(key_name) + "'";
            return false;
        }
        const std::string option = "--" + key_name;
        const std::string where = at + " '" + key_name + "'";
        // A value the command line overrides must still be a good one: the
        // file is judged the same whatever the command line says.
        const bool take = given.count(option) == 0;
        if (!KeyReader(*key, where, dir, error).read(node, take, line)) return false;
        if (take) line->from_file[option] = where;
    }
    return true;
}

}  // namespace

bool load_project_file(const std::string& config, const std::set<std::string>& given, CommandLine* line,
                       std::string* error) {
    std::string path = config;
    if (path.empty()) {
        if (line->input.empty()) return true;
        path = line->input + "/" + project_file_name;
        FileInfo info;
        if (!examine(path, false, &info)) return true;   // no project file: the command line is all there is
    }
    if (!read_project(path, given, line, error)) return false;
    // The file that describes the build is not part of the application.
    if (!line->input.empty() && same_file(path, line->input + "/" + project_file_name)) {
        line->excludes.push_back(std::string("/") + project_file_name);
    }
    return true;
}

std::string attributed(const CommandLine& line, const std::string& message) {
    for (const auto& [option, where] : line.from_file) {
        if (message.compare(0, option.size(), option) == 0 &&
            (message.size() == option.size() || message[option.size()] == ' ' || message[option.size()] == ':')) {
            return where + message.substr(option.size());
        }
    }
    return message;
}
