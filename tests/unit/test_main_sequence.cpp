// The main sequence over the fake platform: what the child starts with, the
// exit code it hands back, and the order in which failures are met.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "attached_fixture.h"
#include "child/run_child.h"
#include "fake_builtin.h"
#include "fake_os.h"
#include "isolated.h"
#include "launcher/main.h"
#include "launcher/state.h"

namespace {

const std::u16string target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";

class MainSequence : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
        decoder_held_at_start = true;
        fake_os().on_start = [this] { decoder_held_at_start = launcher.decode_context != nullptr; };
        fake_set_unpack_spec(u"{CACHE_DIR}\\Quenlith\\{VERSION}");
        fake_set_block(fixture::block(fixture::compress(fixture::entry(u"app.exe", "MZ program") +
                                                        fixture::entry(u"lib\\data.bin", "data") +
                                                        fixture::end_marker)));
    }

    // The child the test plans: its exit code, whether it can be read.
    void plan_child(uint32_t exit_code, bool readable = true) {
        FakeChild planned;
        planned.exit_code = exit_code;
        planned.exit_code_readable = readable;
        fake_os().children.push_back(planned);
    }

    bool decoder_held_at_start = true;
};

TEST_F(MainSequence, StartsTheFirstEntryWithThePreparedEnvironmentAndReturnsItsExitCode) {
    FakeOs& os = fake_os();
    os.env[u"ZEMBRA_ONEFILE_START"] = u"1";
    os.env[u"ZEMBRA_ONEFILE_TIME_US"] = u"2";
    os.env[u"ZEMBRA_ONEFILE_RANDOM"] = u"3";
    os.env[u"ZEMBRA_ONEFILE_PARENT"] = u"999";
    os.runtime_args = {u"tool", u"--flag"};
    os.command_line_args = {u"tool", u"--flag"};
    plan_child(7);

    EXPECT_EQ(launcher_main(), 7u);

    ASSERT_EQ(os.children.size(), 1u);
    const FakeChild& child = os.children[0];
    EXPECT_EQ(child.application, target + u"\\app.exe");
    EXPECT_EQ(child.command_line, u"C:\\Apps\\Tool.exe --flag");
    EXPECT_FALSE(decoder_held_at_start);
    EXPECT_EQ(child.env.count(u"ZEMBRA_ONEFILE_START"), 0u);
    EXPECT_EQ(child.env.count(u"ZEMBRA_ONEFILE_TIME_US"), 0u);
    EXPECT_EQ(child.env.count(u"ZEMBRA_ONEFILE_RANDOM"), 0u);
    EXPECT_EQ(child.env.at(u"ZEMBRA_ONEFILE_PARENT"), u"4242");
    EXPECT_EQ(child.env.at(u"ZEMBRA_ONEFILE_DIRECTORY"), u"C:\\Apps");
    EXPECT_EQ(child.env.at(u"ZEMBRA_ORIGINAL_ARGV0"), u"tool");
    EXPECT_EQ(os.files.at(target + u"\\lib\\data.bin"), "data");
    EXPECT_EQ(os.dll_restrictions, 1);
    EXPECT_NE(os.ctrl_handler, nullptr);
}

TEST_F(MainSequence, AChildWhoseExitCodeCannotBeReadGivesOne) {
    plan_child(7, false);
    EXPECT_EQ(launcher_main(), 1u);
}

TEST_F(MainSequence, ALauncherInADriveRootPublishesTheBareDrive) {
    fake_os().module_path = u"C:\\Tool.exe";
    plan_child(0);
    launcher_main();
    EXPECT_EQ(fake_os().children[0].env.at(u"ZEMBRA_ONEFILE_DIRECTORY"), u"C:");
}

TEST_F(MainSequence, TheSecondRunOverAnIntactTargetWritesNothing) {
    plan_child(0);
    launcher_main();
    FakeOs first = fake_os();
    ASSERT_EQ(first.opened_for_write.size(), 2u);

    SetUp();   // a new process: fresh buffers, the same disk
    fake_os().files = first.files;
    fake_os().dirs = first.dirs;
    plan_child(0);
    launcher_main();

    EXPECT_TRUE(fake_os().opened_for_write.empty());
    EXPECT_TRUE(fake_os().created_dirs.empty());
    EXPECT_EQ(fake_os().children[0].application, first.children[0].application);
}

// Failures end the process; each runs in a process of its own.
TEST_F(MainSequence, FailuresEndTheLauncherAtTheRightStepWithTheirOwnEnding) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int exit_code;   // -1: ended by SIGABRT
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {"an unknown placeholder is reported with the template after normalising",
         [] { fake_set_unpack_spec(u"C:\\x\\{NOPE}"); }, -1, "",
         "Error, couldn't runtime expand spec 'C:\\x\\{NOPE}'.\n"},
        {"a failed expansion that leaves nothing to normalise is still reported",
         [] { fake_set_unpack_spec(u"{NOPE}\\x"); }, -1, "", "Error, couldn't runtime expand spec '{NOPE}\\x'.\n"},
        {"an expanded target that cannot be normalised stops silently",
         [] { fake_os().full_path_fails = true; }, 2, "", ""},
        {"a handler that cannot be registered", [] { fake_os().add_ctrl_handler_fails = true; }, 2,
         "Error, failed to register signal handler.\n", ""},
        {"a block without the magic", [] { fake_set_block("QVX" + fixture::compress(fixture::end_marker)); }, 2,
         "Error, couldn't find attached data header.\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        Isolated run = run_isolated([] { launcher_main(); });
        if (c.exit_code < 0) {
            EXPECT_EQ(run.signal, SIGABRT);
        } else {
            EXPECT_TRUE(run.exited);
            EXPECT_EQ(run.exit_code, c.exit_code);
        }
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

}  // namespace
