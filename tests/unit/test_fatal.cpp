// Every way the launcher ends on a failure: the text, its stream, the ending.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "fake_os.h"
#include "isolated.h"
#include "launcher/fatal.h"
#include "launcher/state.h"

namespace {

class Fatal : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
    }
};

TEST_F(Fatal, WithCodePrintsTheSystemTextWithoutItsTrailingLineBreaks) {
    auto& texts = fake_os().error_texts;
    texts[7] = "Two breaks.\r\n\r\n";
    texts[8] = "Inner\r\nbreak stays.\n";
    texts[9] = "No break.";
    texts[10] = "\r\n";
    struct {
        uint32_t code;
        const char* line;
    } cases[] = {
        {5, "Failed ([Error 5] Access is denied.)\n"},
        {7, "Failed ([Error 7] Two breaks.)\n"},
        {8, "Failed ([Error 8] Inner\r\nbreak stays.)\n"},
        {9, "Failed ([Error 9] No break.)\n"},
        {10, "Failed ([Error 10] )\n"},
        {12345, "Failed ([Error 12345] )\n"},   // no text from the system
        {0x80070005u, "Failed ([Error -2147024891] )\n"},
        {0xFFFFFFFFu, "Failed ([Error -1] )\n"},
    };
    for (const auto& c : cases) {
        Isolated run = run_isolated([&] { fatal_with_code("Failed", c.code); });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, 0) << "fatal_with_code returns to its caller";
        EXPECT_EQ(run.err, c.line);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Fatal, CodedRowsEndWithExitCodeTwo) {
    fake_os().error_texts[112] = "There is not enough space on the disk.\r\n";
    struct {
        const char* message;
        uint32_t code;
        const char* line;
    } cases[] = {
        {msg_unpack, 112,
         "Error, couldn't unpack file to target path. ([Error 112] There is not enough space on the disk.)\n"},
        {msg_launch, 5, "Error, couldn't launch child ([Error 5] Access is denied.)\n"},
    };
    for (const auto& c : cases) {
        Isolated run = run_isolated([&] { fatal_exit_with_code(c.message, c.code); });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.err, c.line);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Fatal, StandardOutputRowsEndWithExitCodeTwo) {
    const char* rows[] = {"Error, failed to register signal handler.", "Error, couldn't find attached data header.",
                          "Error, couldn't allocate memory.", "Error, couldn't decode attached data."};
    const char* constants[] = {msg_register_handler, msg_no_header, msg_no_memory, msg_decode};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(constants[i], rows[i]);
        Isolated run = run_isolated([&] { fatal_message(constants[i]); });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.out, std::string(rows[i]) + "\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(Fatal, OpenForWritingPrintsTheWholePath) {
    Isolated run = run_isolated([] { fatal_open_for_writing(u"C:\\Target\\1.0.20\\bin\\app.exe"); });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "Error, failed to open 'C:\\Target\\1.0.20\\bin\\app.exe' for writing.\n");
    EXPECT_EQ(run.out, "");
}

TEST_F(Fatal, ExpandSpecPrintsTheTemplateAndAborts) {
    struct {
        const char16_t* spec;
        const char* line;
    } cases[] = {
        {u"{CACHE_DIR}\\Quenlith\\{VERSION}", "Error, couldn't runtime expand spec '{CACHE_DIR}\\Quenlith\\{VERSION}'.\n"},
        // Written as UTF-8, characters outside any code page included.
        {u"{HOME}\\caf\u00e9\\\U0001F600", "Error, couldn't runtime expand spec '{HOME}\\caf\xc3\xa9\\\xf0\x9f\x98\x80'.\n"},
    };
    for (const auto& c : cases) {
        Isolated run = run_isolated([&] { fatal_expand_spec(c.spec); });
        EXPECT_FALSE(run.exited);
        EXPECT_EQ(run.signal, SIGABRT);
        EXPECT_EQ(run.err, c.line);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Fatal, ExpandSpecEndsTheSameWayWhenAbortIsHandled) {
    // A handler left behind must neither keep the process alive nor add text.
    Isolated run = run_isolated([] {
        std::signal(SIGABRT, SIG_IGN);
        fatal_expand_spec(u"{NOPE}");
    });
    EXPECT_EQ(run.signal, SIGABRT);
    EXPECT_EQ(run.err, "Error, couldn't runtime expand spec '{NOPE}'.\n");
}

TEST_F(Fatal, StopWritesNothingNotEvenWhatWasPending) {
    Isolated run = run_isolated([] {
        std::fputs("pending", stdout);   // buffered: a file, not a terminal
        fatal_stop();
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

}  // namespace
