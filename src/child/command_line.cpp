// The child's arguments on Windows: one command line, joined by the quoting
// rule that the system's splitting reverses.
#include "child/command_line.h"

#include "child/child_command.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"

namespace {

// A line being appended to: its buffer, capacity (NUL included) and the
// number of units used so far.
struct Line {
    char16_t* text;
    size_t capacity;
    size_t used;
};

// Appends `count` copies of `unit` when they and the NUL still fit.
bool put(Line& line, char16_t unit, size_t count = 1) {
    if (line.used + count + 1 > line.capacity) return false;
    for (size_t i = 0; i < count; ++i) line.text[line.used++] = unit;
    line.text[line.used] = 0;
    return true;
}

// The characters that make the system's splitter end an argument or treat
// a quote specially; anything else may stand unquoted. A carriage return
// is not among them: the splitter keeps it inside the argument.
bool needs_quotes(const char16_t* arg) {
    for (const char16_t* c = arg; *c != 0; ++c)
        if (*c == u' ' || *c == u'\t' || *c == u'\n' || *c == u'\v' || *c == u'"') return true;
    return false;
}

// The quoted form: backslashes are literal except in a run before a quote,
// where the splitter halves them; so such a run is doubled, and one more
// backslash makes the quote itself literal. A run before the closing quote
// is doubled too, so that the closing quote keeps its meaning.
bool put_quoted(Line& line, const char16_t* arg) {
    if (!put(line, u'"')) return false;
    size_t backslashes = 0;
    for (const char16_t* c = arg;; ++c) {
        if (*c == u'\\') {
            ++backslashes;
        } else if (*c == 0) {
            return put(line, u'\\', 2 * backslashes) && put(line, u'"');
        } else if (*c == u'"') {
            if (!put(line, u'\\', 2 * backslashes + 1) || !put(line, u'"')) return false;
            backslashes = 0;
        } else {
            if (!put(line, u'\\', backslashes) || !put(line, *c)) return false;
            backslashes = 0;
        }
    }
}

bool put_unquoted(Line& line, const char16_t* arg) {
    size_t length = text_length(arg);
    if (line.used + length + 1 > line.capacity) return false;
    for (size_t i = 0; i < length; ++i) line.text[line.used++] = arg[i];
    line.text[line.used] = 0;
    return true;
}

bool put_argument(Line& line, const char16_t* arg) {
    size_t start = line.used;
    bool fits = needs_quotes(arg) ? put_quoted(line, arg) : put_unquoted(line, arg);
    if (!fits) {
        line.used = start;
        line.text[start] = 0;
    }
    return fits;
}

}  // namespace

bool append_quoted_argument(char16_t* line, const char16_t* arg, size_t capacity) {
    Line target{line, capacity, text_length(line)};
    return put_argument(target, arg);
}

void build_child_command_line() {
    take_child_arguments();
    launcher.child_command_line[0] = 0;
    Line line{launcher.child_command_line, longest_command_line + 1, 0};
    for (int i = 0; i < launcher.child_arg_count; ++i) {
        if (i > 0 && !put(line, u' ')) fatal_stop();
        if (!put_argument(line, launcher.child_args[i])) fatal_stop();
    }
}

ChildCommand prepare_child_command() {
    build_child_command_line();
    return {launcher.child_command_line};
}
