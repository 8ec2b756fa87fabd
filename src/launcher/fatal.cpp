#include "launcher/fatal.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/text.h"
#include "payload/block_format.h"
#include "platform/platform.h"

namespace {

// Room for a system error text and for a path in a message: a path buffer's
// units take at most three bytes a unit in UTF-8.
constexpr size_t system_text_capacity = 2048;
constexpr size_t message_path_capacity = 3 * path_capacity + 1;

// Ends the way abort does, without the text some C runtimes write first (a
// dialog, for a program without a console): SIGABRT with its default action
// ends a POSIX process by that signal and a Windows one with status 3.
[[noreturn]] void end_as_aborted() {
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
    std::abort();   // only if the signal did not end the process
}

// Threads that decode at the same time may meet failures at the same time.
// The first to report one ends the process; the others wait for that, so
// one line is written and the process is ended once.
void claim_the_ending() {
    static std::atomic<bool> claimed{false};
    if (claimed.exchange(true)) os_hold_thread();
}

}  // namespace

void fatal_with_code(const char* message, uint32_t code) {
    char text[system_text_capacity];
    text[0] = 0;   // no text at all prints as an empty one
    os_error_text(code, text, sizeof text);
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) text[--n] = 0;
    std::fprintf(stderr, "%s ([Error %ld] %s)\n", message, static_cast<long>(static_cast<int32_t>(code)), text);
    std::fflush(stderr);
}

void fatal_exit_with_code(const char* message, uint32_t code) {
    claim_the_ending();
    fatal_with_code(message, code);
    std::exit(fatal_exit_code);
}

// Paths and templates are written as UTF-8, so that a name outside the
// current code page still reaches the reader whole.
void fatal_expand_spec(const char16_t* spec) {
    claim_the_ending();
    static char text[message_path_capacity];
    text_to_utf8(spec, text, sizeof text);
    std::fprintf(stderr, "Error, couldn't runtime expand spec '%s'.\n", text);
    std::fflush(stderr);
    end_as_aborted();
}

void fatal_open_for_writing(const char16_t* path) {
    claim_the_ending();
    static char text[message_path_capacity];
    text_to_utf8(path, text, sizeof text);
    std::fprintf(stderr, "Error, failed to open '%s' for writing.\n", text);
    std::exit(fatal_exit_code);
}

void fatal_message(const char* message) {
    claim_the_ending();
    std::puts(message);
    std::exit(fatal_exit_code);
}

// The stops without a message: the same exit code as every other failure
// before the child starts, without flushing or running anything else.
void fatal_stop() {
    claim_the_ending();
    std::_Exit(fatal_exit_code);
}
