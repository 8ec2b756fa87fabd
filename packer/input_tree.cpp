#include "input_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "entry_names.h"
#include "exclude.h"
#include "host.h"
#include "payload/block_format.h"
#include "utf8.h"

namespace {

struct Walk {
    std::string root;
    const std::vector<std::string>* excludes;
    std::vector<FileId> open_directories;   // the chain from the root down
    InputTree* tree;
    std::string* error;
};

std::string quoted(const std::string& relative) { return "'" + printable(relative) + "'"; }

std::string system_reason() { return error_text(errno); }

bool read_names(const std::string& dir_path, const std::string& shown, std::vector<std::string>* names,
                std::string* error) {
    if (!list_directory(dir_path, names)) {
        *error = "cannot read directory " + shown + ": " + system_reason();
        return false;
    }
    // Ordinal byte order, which for UTF-8 is also code point order.
    std::sort(names->begin(), names->end());
    return true;
}

bool walk_directory(Walk& walk, const std::string& dir_path, const std::string& prefix) {
    std::string shown = prefix.empty() ? "'" + printable(walk.root) + "'" : quoted(prefix);
    std::vector<std::string> names;
    if (!read_names(dir_path, shown, &names, walk.error)) return false;
    if (names.empty()) {
        walk.tree->warnings.push_back(prefix.empty()
                                          ? "input directory " + shown + " holds no files: the launcher will carry none"
                                          : "empty directory " + shown + " cannot be carried; skipped");
        return true;
    }

    std::map<std::u16string, std::string> seen;   // case-folded name -> name
    std::vector<std::pair<std::string, FileId>> subdirectories;
    for (const std::string& name : names) {
        std::string relative = prefix.empty() ? name : prefix + "/" + name;
        std::string path = dir_path + "/" + name;
        FileInfo info;
        if (!examine(path, false, &info)) {
            // What cannot even be examined may still be left out, or have a
            // name that is refused anyway (Windows cannot open some of them).
            const int reason = errno;
            if (excluding_pattern(*walk.excludes, relative, false) != nullptr) continue;
            std::string problem = component_problem(name);
            *walk.error = problem.empty() ? "cannot examine " + quoted(relative) + ": " + error_text(reason)
                                          : "the name of " + quoted(relative) + " " + problem;
            return false;
        }
        const int link_errno = info.is_link && !examine(path, true, &info) ? errno : 0;
        // What is left out is never looked at: its name, its kind and its
        // contents cannot stop a pack.
        if (excluding_pattern(*walk.excludes, relative, link_errno == 0 && info.kind == FileKind::directory) != nullptr) continue;
        std::string problem = component_problem(name);
        if (!problem.empty()) {
            *walk.error = "the name of " + quoted(relative) + " " + problem;
            return false;
        }
        auto [other, inserted] = seen.emplace(case_key(name), name);
        if (!inserted) {
            *walk.error = quoted(relative) + " and " + quoted(prefix.empty() ? other->second : prefix + "/" + other->second) +
                          " differ only in case: Windows would write them to the same file";
            return false;
        }
        if (link_errno != 0) {
            *walk.error = (link_errno == ENOENT || link_errno == ELOOP ? "dangling link " : "cannot follow link ") +
                          quoted(relative) + ": " + error_text(link_errno);
            return false;
        }
        if (info.kind == FileKind::regular) {
            InputFile file;
            file.path = path;
            file.relative = relative;
            std::string backslashed = relative;
            std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
            utf8_to_utf16(backslashed, &file.entry_name);
            if (file.entry_name.size() > max_entry_name_units) {
                *walk.error = "the name of " + quoted(relative) + " is " + std::to_string(file.entry_name.size()) +
                              " UTF-16 units long; the launcher takes at most " + std::to_string(max_entry_name_units);
                return false;
            }
            file.size = info.size;
            walk.tree->files.push_back(std::move(file));
        } else if (info.kind == FileKind::directory) {
            const FileId id = info.id;
            if (std::find(walk.open_directories.begin(), walk.open_directories.end(), id) != walk.open_directories.end()) {
                *walk.error = "directory loop: " + quoted(relative) + " leads back to a directory that contains it";
                return false;
            }
            subdirectories.emplace_back(name, id);
        } else {
            *walk.error = quoted(relative) + " is not a regular file or directory (a device, pipe or socket)";
            return false;
        }
    }

    // A directory's own files come before those of its subdirectories.
    for (const auto& [name, id] : subdirectories) {
        walk.open_directories.push_back(id);
        bool ok = walk_directory(walk, dir_path + "/" + name, prefix.empty() ? name : prefix + "/" + name);
        walk.open_directories.pop_back();
        if (!ok) return false;
    }
    return true;
}

bool has_extension(const std::string& name, const char* extension) {
    size_t length = std::strlen(extension);
    if (name.size() <= length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = name[name.size() - length + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != extension[i]) return false;
    }
    return true;
}

// Turns the --main value into a relative path with '/' separators; false
// when it points outside the input directory.
bool normalise_main(const std::string& value, std::string* relative) {
    std::string text = value;
    std::replace(text.begin(), text.end(), '\\', '/');
    if (!text.empty() && text[0] == '/') return false;
    relative->clear();
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('/', pos);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(pos, end - pos);
        if (part == "..") return false;
        if (!part.empty() && part != ".") *relative += (relative->empty() ? "" : "/") + part;
        pos = end + 1;
    }
    return true;
}

bool choose_main(const std::string& input_dir, const std::string& main_value, const std::vector<std::string>& excludes,
                 InputTree* tree, std::string* error) {
    std::vector<InputFile>& files = tree->files;
    size_t chosen = files.size();
    if (!main_value.empty()) {
        std::string relative;
        if (!normalise_main(main_value, &relative) || relative.empty()) {
            *error = "--main '" + printable(main_value) + "' is not a path inside the input directory";
            return false;
        }
        for (size_t i = 0; i < files.size() && chosen == files.size(); ++i) {
            if (files[i].relative == relative) chosen = i;
        }
        if (chosen == files.size()) {
            if (const std::string* pattern = excluding_pattern(excludes, relative, false)) {
                *error = "--main '" + printable(main_value) + "' is left out by the exclude pattern '" +
                         printable(*pattern) + "'";
                return false;
            }
            FileInfo info;
            bool exists = examine(input_dir + "/" + relative, true, &info);
            *error = "--main '" + printable(main_value) + "' " +
                     (exists ? "is not a regular file" : "does not exist in the input directory");
            return false;
        }
    } else {
        if (files.empty()) return true;   // already warned: nothing to carry
        std::vector<size_t> candidates;
        for (size_t i = 0; i < files.size(); ++i) {
            if (files[i].relative.find('/') == std::string::npos && has_extension(files[i].relative, ".exe")) {
                candidates.push_back(i);
            }
        }
        if (candidates.size() != 1) {
            *error = std::string(candidates.empty() ? "no .exe" : "more than one .exe") +
                     " at the top of the input directory: pass --main to name the main executable";
            return false;
        }
        chosen = candidates[0];
    }
    // Scripts run through the command interpreter, whose parsing of the
    // command line differs from the quoting the launcher uses.
    if (has_extension(files[chosen].relative, ".bat") || has_extension(files[chosen].relative, ".cmd")) {
        *error = "main entry " + quoted(files[chosen].relative) +
                 " is a batch script; the launcher can only start a program (.exe)";
        return false;
    }
    std::rotate(files.begin(), files.begin() + static_cast<long>(chosen), files.begin() + static_cast<long>(chosen) + 1);
    return true;
}

}  // namespace

bool collect_input(const std::string& input_dir, const std::string& main_relative, InputTree* tree,
                   std::string* error, const std::vector<std::string>& excludes) {
    tree->files.clear();
    tree->warnings.clear();
    FileInfo info;
    if (!examine(input_dir, true, &info)) {
        *error = "input directory '" + printable(input_dir) + "': " + system_reason();
        return false;
    }
    if (info.kind != FileKind::directory) {
        *error = "input '" + printable(input_dir) + "' is not a directory";
        return false;
    }
    Walk walk{input_dir, &excludes, {info.id}, tree, error};
    if (!walk_directory(walk, input_dir, "")) return false;
    return choose_main(input_dir, main_relative, excludes, tree, error);
}
