#include "exclude.h"

namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash = text.find('/'); slash != std::string::npos; slash = text.find('/', start)) {
        parts.push_back(text.substr(start, slash - start));
        start = slash + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The components a pattern is matched with, and whether it matches
// directories only. A pattern without an inner slash may start at any depth.
struct Shape {
    std::vector<std::string> parts;
    bool directories_only = false;
};

Shape shape_of(std::string pattern) {
    Shape shape;
    if (pattern.size() > 1 && pattern.back() == '/') {
        shape.directories_only = true;
        pattern.pop_back();
    }
    const bool anchored = !pattern.empty() && pattern[0] == '/';
    if (anchored) pattern.erase(0, 1);
    if (!anchored && pattern.find('/') == std::string::npos) shape.parts.push_back("**");
    for (std::string& part : split(pattern)) {
        // A run of "**" matches what one does.
        if (part == "**" && !shape.parts.empty() && shape.parts.back() == "**") continue;
        shape.parts.push_back(std::move(part));
    }
    return shape;
}

// The start of the UTF-8 character after the one at `at`, so that "?"
// takes a whole character; a stray byte counts as one.
size_t next_character(const std::string& text, size_t at) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    return at;
}

bool component_matches(const std::string& pattern, const std::string& name) {
    size_t p = 0, n = 0;
    size_t star = std::string::npos, resume = 0;   // the last '*' and where its run would end next
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n = next_character(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p, ++n;
        } else if (star != std::string::npos) {
            // Let the last '*' take one character more and try again.
            p = star + 1;
            resume = next_character(name, resume);
            n = resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool parts_match(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& path, size_t n) {
    if (p == pattern.size()) return n == path.size();
    if (pattern[p] == "**") {
        for (size_t skip = n; skip <= path.size(); ++skip) {
            if (parts_match(pattern, p + 1, path, skip)) return true;
        }
        return false;
    }
    return n < path.size() && component_matches(pattern[p], path[n]) && parts_match(pattern, p + 1, path, n + 1);
}

}  // namespace

std::string exclude_pattern_problem(const std::string& pattern) {
    if (pattern.find('\\') != std::string::npos) return "it holds a backslash: components are separated by /";
    std::string inner = pattern;
    if (inner.size() > 1 && inner.back() == '/') inner.pop_back();
    if (!inner.empty() && inner[0] == '/') inner.erase(0, 1);
    for (const std::string& part : split(inner)) {
        if (part.empty()) return "it has an empty component";
        if (part == "." || part == "..") return "it has a '" + part + "' component, which no path below the input has";
    }
    return "";
}

bool exclude_matches(const std::string& pattern, const std::string& relative, bool is_directory) {
    Shape shape = shape_of(pattern);
    if (shape.directories_only && !is_directory) return false;
    return parts_match(shape.parts, 0, split(relative), 0);
}

const std::string* excluding_pattern(const std::vector<std::string>& patterns, const std::string& relative,
                                     bool is_directory) {
    for (const std::string& pattern : patterns) {
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
            if (exclude_matches(pattern, relative.substr(0, slash), true)) return &pattern;
        }
        if (exclude_matches(pattern, relative, is_directory)) return &pattern;
    }
    return nullptr;
}
