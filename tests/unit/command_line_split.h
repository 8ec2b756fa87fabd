// The system's rules for splitting a command line into arguments, as
// CommandLineToArgvW applies them, written here independently of the
// launcher so that the tests can check the lines it joins.
#pragma once

#include <string>
#include <vector>

namespace command_line_split {

inline bool blank(char16_t c) { return c == u' ' || c == u'\t'; }

// Argument 0 follows a rule of its own: up to the next quote when it starts
// with one, else up to the first blank; backslashes are plain there.
// Returns the index where the other arguments begin.
inline size_t skip_first(const std::u16string& line, std::u16string* first) {
    size_t i = 0, n = line.size();
    if (n > 0 && line[0] == u'"') {
        size_t end = line.find(u'"', 1);
        if (end == std::u16string::npos) end = n;
        if (first) *first = line.substr(1, end - 1);
        return end < n ? end + 1 : n;
    }
    while (i < n && !blank(line[i])) ++i;
    if (first) *first = line.substr(0, i);
    return i;
}

// The arguments after argument 0. Outside quotes a blank ends an argument.
// 2n backslashes before a quote give n backslashes and the quote toggles
// quoting; 2n + 1 give n backslashes and a literal quote; backslashes not
// before a quote are literal. Two unescaped quotes in a row have finer
// rules that differ between the system's splitters; a correct join never
// writes them, so here they simply toggle quoting twice.
inline std::vector<std::u16string> split_after_first(const std::u16string& line) {
    size_t i = skip_first(line, nullptr), n = line.size();
    std::vector<std::u16string> args;
    for (;;) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n) return args;
        std::u16string arg;
        bool quoted = false;
        while (i < n && (quoted || !blank(line[i]))) {
            if (line[i] == u'\\') {
                size_t run = 0;
                while (i < n && line[i] == u'\\') ++run, ++i;
                if (i < n && line[i] == u'"') {
                    arg.append(run / 2, u'\\');
                    if (run % 2 == 1) arg += line[i++];
                } else {
                    arg.append(run, u'\\');
                }
            } else if (line[i] == u'"') {
                quoted = !quoted;
                ++i;
            } else {
                arg += line[i++];
            }
        }
        args.push_back(arg);
    }
}

}  // namespace command_line_split
