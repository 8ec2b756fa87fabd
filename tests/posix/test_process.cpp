// The POSIX process services against real processes: the child's start,
// arguments, environment and exit status, waits, termination, and the
// signals that arrive as console events.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "isolated.h"
#include "platform/platform.h"

namespace {

// Starts /bin/sh with `script` and the further arguments.
ChildHandle start_shell(const std::u16string& script, std::vector<std::u16string> more = {}) {
    std::vector<std::u16string> args{u"sh", u"-c", script};
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char16_t*> pointers;
    for (auto& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return os_start_child(u"/bin/sh", ChildCommand{pointers.data(), static_cast<int>(args.size())});
}

uint32_t finish(ChildHandle child) {
    EXPECT_TRUE(os_wait_child(child, wait_forever));
    uint32_t code = 0xDEAD;
    EXPECT_TRUE(os_child_exit_code(child, &code));
    os_close_child(child);
    return code;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(PosixProcess, PassesTheExitStatusOrTheSignalPlus128) {
    struct Case {
        std::u16string script;
        uint32_t code;
    };
    const Case cases[] = {{u"exit 0", 0}, {u"exit 7", 7}, {u"exit 255", 255}, {u"kill -TERM $$", 128 + SIGTERM}};
    for (const Case& c : cases) {
        ChildHandle child = start_shell(c.script);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(finish(child), c.code);
    }
}

TEST(PosixProcess, ChildGetsArgumentsEnvironmentAndDirectory) {
    char dir_template[] = "/tmp/posix-process.XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    std::string dir = dir_template;
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    setenv("POSIX_PROCESS_PROBE", "inherited", 1);

    ChildHandle child = start_shell(u"printf '%s|' \"$0\" \"$@\" \"$POSIX_PROCESS_PROBE\" \"$PWD\" > out",
                                    {u"zero", u"a b", u"\u00e9\u4e2d\U0001F600", u""});
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(finish(child), 0u);
    EXPECT_EQ(read_file(dir + "/out"), "zero|a b|\u00e9\u4e2d\U0001F600||inherited|" + dir + "|");

    unsetenv("POSIX_PROCESS_PROBE");
    ASSERT_EQ(chdir(before), 0);
    std::remove((dir + "/out").c_str());
    rmdir(dir.c_str());
}

TEST(PosixProcess, AMissingProgramFailsWithTheSystemsReason) {
    char16_t arg0[] = u"missing";
    char16_t* args[] = {arg0, nullptr};
    EXPECT_EQ(os_start_child(u"/nonexistent/program", ChildCommand{args, 1}), nullptr);
    EXPECT_EQ(os_last_error(), static_cast<uint32_t>(ENOENT));
}

TEST(PosixProcess, ARunningChildHasNoExitCodeAndCanBeTerminated) {
    ChildHandle child = start_shell(u"exec sleep 1000");
    ASSERT_NE(child, nullptr);
    uint32_t code = 0;
    EXPECT_FALSE(os_wait_child(child, 0));
    EXPECT_FALSE(os_child_exit_code(child, &code));
    os_terminate_child(child, 0);
    // Ended but not yet reaped: a timed wait sees the end, repeatedly.
    EXPECT_TRUE(os_wait_child(child, 60000));
    EXPECT_TRUE(os_wait_child(child, 0));
    EXPECT_EQ(finish(child), 128u + SIGKILL);
}

std::atomic<int> events_seen{0};
std::atomic<uint32_t> last_event{0};
std::atomic<bool> pass_on{false};

bool record_event(uint32_t event) {
    last_event = event;
    ++events_seen;
    return !pass_on;
}

TEST(PosixProcess, SignalsArriveAsEventsOnAThreadAndPassOnToTheDefaultAction) {
    Isolated run = run_isolated([] {
        if (!os_add_ctrl_handler(record_event)) return;
        const int signals[] = {SIGINT, SIGHUP, SIGTERM};
        for (int number : signals) {
            int before = events_seen;
            kill(getpid(), number);
            while (events_seen == before) sched_yield();
            std::printf("%d->%u ", number, last_event.load());
        }
        // The child starts without the launcher's block on these signals.
        ChildHandle child = start_shell(u"kill -TERM $$; exit 3");
        os_wait_child(child, wait_forever);
        uint32_t code = 0;
        os_child_exit_code(child, &code);
        std::printf("child %u ", code);
        std::fflush(stdout);

        pass_on = true;
        kill(getpid(), SIGTERM);
        for (;;) pause();
    });
    EXPECT_EQ(run.out, "2->0 1->2 15->6 child 143 ");
    EXPECT_FALSE(run.exited);
    EXPECT_EQ(run.signal, SIGTERM);
}

}  // namespace
