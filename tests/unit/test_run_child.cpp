// Starting the child, waiting for it, and the console control handler.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "child/run_child.h"
#include "fake_os.h"
#include "isolated.h"
#include "launcher/state.h"
#include "launcher/text.h"

namespace {

class RunChild : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
        timeouts.clear();
        answers.clear();
        text_copy(launcher.main_exe_path, u"C:\\Cache\\Quenlith\\1.0.20\\main.exe", path_capacity);
        text_copy(launcher.child_command_line, u"C:\\Tools\\app.exe --mode fast", command_line_capacity);
    }

    // The child started with the command line of SetUp.
    static uint32_t run_with_line() { return run_child(ChildCommand{launcher.child_command_line}); }

    // The child the next start produces.
    FakeChild& plan_child() {
        fake_os().children.emplace_back();
        return fake_os().children.back();
    }

    // Delivers `event` to the handler while the main sequence waits for the
    // child, and records the handler's answer and every wait's timeout.
    void deliver_during_wait(uint32_t event) {
        fake_os().on_wait = [this, event](ChildHandle child, uint32_t timeout) {
            timeouts.push_back(timeout);
            if (timeout != wait_forever) return;
            EXPECT_EQ(launcher.child_handle.load(), child);
            answers.push_back(console_ctrl_handler(event));
        };
    }

    std::vector<uint32_t> timeouts;
    std::vector<bool> answers;
};

TEST_F(RunChild, StartsTheMainExecutableAndReturnsItsExitCode) {
    struct Case {
        uint32_t code;
        bool readable;
        uint32_t expected;
        bool wait_fails = false;
    };
    // A wait that fails says nothing about the child: what Windows would read
    // as its exit code then is STILL_ACTIVE (259), not an ending.
    const Case cases[] = {{0, true, 0}, {7, true, 7}, {0xC0000005u, true, 0xC0000005u}, {7, false, 1}, {259, true, 1, true}};
    for (const Case& c : cases) {
        SetUp();
        FakeChild& planned = plan_child();
        planned.exit_code = c.code;
        planned.exit_code_readable = c.readable;
        planned.wait_fails = c.wait_fails;
        EXPECT_EQ(run_with_line(), c.expected);

        const FakeChild& child = fake_os().children.at(0);
        EXPECT_EQ(child.application, u"C:\\Cache\\Quenlith\\1.0.20\\main.exe");
        EXPECT_EQ(child.command_line, u"C:\\Tools\\app.exe --mode fast");
        EXPECT_EQ(child.waits, 1);
        EXPECT_EQ(child.closes, 1);
        EXPECT_FALSE(child.terminated_with.has_value());
        EXPECT_EQ(launcher.child_handle.load(), nullptr);
    }
}

TEST_F(RunChild, ReportsAFailedStartWithTheSystemsErrorAndExitCode2) {
    struct Case {
        const char* what;
        bool empty_path;
        uint32_t error;
        const char* line;
    };
    const Case cases[] = {
        {"not a program", false, 193, "Error, couldn't launch child ([Error 193] Bad EXE format.)\n"},
        // attached data without entries leaves no program to name
        {"no main executable", true, 2, "Error, couldn't launch child ([Error 2] File not found.)\n"},
    };
    for (const Case& c : cases) {
        SetUp();
        fake_os().error_texts[193] = "Bad EXE format.\r\n";
        fake_os().error_texts[2] = "File not found.\r\n";
        if (c.empty_path) launcher.main_exe_path[0] = 0;
        fake_os().start_fails = !c.empty_path;
        fake_os().start_error = c.error;
        Isolated run = run_isolated([] {
            run_with_line();
            std::printf("returned, %zu started", fake_os().children.size());
        });
        EXPECT_TRUE(run.exited) << c.what;
        EXPECT_EQ(run.exit_code, 2) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(run.err, c.line) << c.what;
    }
}

TEST_F(RunChild, EndingEventsGiveTheChildFiveSecondsThenTerminateIt) {
    const uint32_t ending[] = {0, 1, 2, 5, 6};
    for (uint32_t event : ending) {
        for (bool ends_in_time : {true, false}) {
            SetUp();
            FakeChild& planned = plan_child();
            planned.exit_code = 42;
            planned.ends_in_time = ends_in_time;
            deliver_during_wait(event);
            uint32_t code = run_with_line();

            const FakeChild& child = fake_os().children.at(0);
            EXPECT_EQ(timeouts, (std::vector<uint32_t>{wait_forever, 5000})) << event;
            EXPECT_EQ(answers, std::vector<bool>{false}) << event;
            EXPECT_EQ(child.closes, 1) << event;
            if (ends_in_time) {
                EXPECT_FALSE(child.terminated_with.has_value()) << event;
                EXPECT_EQ(code, 42u) << event;
            } else {
                EXPECT_EQ(child.terminated_with, 0u) << event;
                EXPECT_EQ(code, 0u) << event;
            }
            // The launcher's exit code is the child's: the event is held back.
            EXPECT_EQ(fake_os().holds, 1) << event;
        }
    }
}

TEST_F(RunChild, OtherEventsLeaveTheChildAlone) {
    const uint32_t others[] = {3, 4, 7, 100, 0xFFFFFFFFu};
    for (uint32_t event : others) {
        SetUp();
        plan_child().ends_in_time = false;
        deliver_during_wait(event);
        EXPECT_EQ(run_with_line(), 0u);
        EXPECT_EQ(timeouts, std::vector<uint32_t>{wait_forever}) << event;
        EXPECT_EQ(answers, std::vector<bool>{false}) << event;
        EXPECT_FALSE(fake_os().children.at(0).terminated_with.has_value()) << event;
        EXPECT_EQ(fake_os().children.at(0).closes, 1) << event;
        EXPECT_EQ(fake_os().holds, 0) << event;
    }
}

TEST_F(RunChild, EventsBeforeTheStartPassOnAndAfterTheEndTouchNothing) {
    // During unpacking: no child, so the system's default handling may end
    // the launcher.
    EXPECT_FALSE(console_ctrl_handler(ctrl_c_event));
    EXPECT_EQ(fake_os().holds, 0);

    // After the main sequence has closed the handle: nothing is used, and
    // the launcher still ends with the child's code.
    plan_child();
    run_with_line();
    EXPECT_FALSE(console_ctrl_handler(ctrl_c_event));
    EXPECT_EQ(fake_os().children.at(0).waits, 1);
    EXPECT_EQ(fake_os().children.at(0).closes, 1);
    EXPECT_EQ(fake_os().holds, 1);
}

// A handler still waiting when the main sequence has its exit code: the
// handle stays open for the handler, which then closes it, once.
TEST_F(RunChild, AHandlerThatOutlivesTheMainSequenceClosesTheHandle) {
    plan_child().exit_code = 9;
    std::promise<void> handler_waiting, main_done;
    std::shared_future<void> main_done_future = main_done.get_future().share();
    std::thread handler;
    fake_os().on_wait = [&](ChildHandle, uint32_t timeout) {
        if (timeout == wait_forever) {
            handler = std::thread([] { console_ctrl_handler(ctrl_break_event); });
            handler_waiting.get_future().wait();
        } else {
            handler_waiting.set_value();
            main_done_future.wait();
        }
    };
    EXPECT_EQ(run_with_line(), 9u);
    EXPECT_EQ(fake_os().children.at(0).closes, 0);
    main_done.set_value();
    handler.join();
    EXPECT_EQ(fake_os().children.at(0).closes, 1);
    EXPECT_EQ(launcher.child_handle.load(), nullptr);
    EXPECT_EQ(launcher.child_users.load(), child_closed);
}

}  // namespace
