// Environment variables named in narrow text, over the fake platform.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fake_os.h"
#include "isolated.h"
#include "launcher/env.h"
#include "launcher/state.h"

namespace {

class Env : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
    }
};

// Runs `body` in a fork and expects a stop without a message.
template <typename Body>
void expect_silent_stop(Body body) {
    Isolated run = run_isolated(body);
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

std::u16string take(char16_t* copy) {
    std::u16string text = copy != nullptr ? std::u16string(copy) : u"<none>";
    std::free(copy);
    return text;
}

TEST_F(Env, AppendWidenedAddsToWhatIsThere) {
    char16_t dest[8] = u"ab";
    append_widened(dest, "cd", 8);
    EXPECT_EQ(std::u16string(dest), u"abcd");
    append_widened(dest, "", 8);
    EXPECT_EQ(std::u16string(dest), u"abcd");
    append_widened(dest, "efg", 8);   // seven units and the NUL: exactly full
    EXPECT_EQ(std::u16string(dest), u"abcdefg");
}

TEST_F(Env, AppendWidenedStopsWhenTheTextDoesNotFitOrWiden) {
    expect_silent_stop([] {
        char16_t dest[4] = u"ab";
        append_widened(dest, "cd", 4);
    });
    // The C runtime's default locale widens only ASCII to one unit.
    expect_silent_stop([] {
        char16_t dest[8] = u"";
        append_widened(dest, "a\xE9", 8);
    });
    // Names are widened into a 40-unit buffer.
    expect_silent_stop([] { get_env_var("A_NAME_OF_FORTY_CHARACTERS_IS_TOO_LONG_X"); });
}

TEST_F(Env, GetReturnsACopyOfASetNonEmptyValue) {
    auto& env = fake_os().env;
    env[u"PLAIN"] = u"value";
    env[u"WIDE"] = u"\u00e9\U0001F600";
    env[u"EMPTY"] = u"";
    env[u"LONGEST"] = std::u16string(32767, u'x');
    env[u"TOO_LONG"] = std::u16string(32768, u'x');
    env[u"NAME_OF_THIRTY_NINE_CHARACTERS_FITS_OK9"] = u"fits";

    EXPECT_EQ(take(get_env_var("PLAIN")), u"value");
    EXPECT_EQ(take(get_env_var("WIDE")), u"\u00e9\U0001F600");
    EXPECT_EQ(take(get_env_var("UNSET")), u"<none>");
    EXPECT_EQ(take(get_env_var("EMPTY")), u"<none>");
    EXPECT_EQ(take(get_env_var("LONGEST")).size(), 32767u);
    EXPECT_EQ(take(get_env_var("TOO_LONG")), u"<none>");
    EXPECT_EQ(take(get_env_var("NAME_OF_THIRTY_NINE_CHARACTERS_FITS_OK9")), u"fits");
}

TEST_F(Env, SetAndRemoveChangeTheEnvironment) {
    auto& env = fake_os().env;
    EXPECT_TRUE(set_env_var("ZEMBRA_ONEFILE_DIRECTORY", u"C:\\Apps"));
    EXPECT_EQ(env[u"ZEMBRA_ONEFILE_DIRECTORY"], u"C:\\Apps");
    set_env_var("ZEMBRA_ONEFILE_DIRECTORY", u"D:");
    EXPECT_EQ(env[u"ZEMBRA_ONEFILE_DIRECTORY"], u"D:");

    remove_env_var("ZEMBRA_ONEFILE_DIRECTORY");
    remove_env_var("NEVER_SET");
    EXPECT_EQ(env.count(u"ZEMBRA_ONEFILE_DIRECTORY"), 0u);
    EXPECT_EQ(env.count(u"NEVER_SET"), 0u);
}

}  // namespace
