// Path templates and the launcher's own path, over the fake platform.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_os.h"
#include "isolated.h"
#include "launcher/identity_defaults.h"
#include "launcher/state.h"
#include "paths/binary_path.h"
#include "paths/expand_spec.h"
#include "payload/block_format.h"

namespace {

const std::u16string temp = u"C:\\Users\\user\\AppData\\Local\\Temp";   // the fake's, without its '\'
const std::u16string cache = u"C:\\Users\\user\\AppData\\Local";

// The fake launcher's built-in values are the packer's defaults, which are ASCII.
std::u16string widen(const char* ascii) { return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii)); }
const std::u16string company = widen(default_company);
const std::u16string product = widen(default_product);
const std::u16string version = widen(default_version);
const char16_t* start_var = u"ZEMBRA_ONEFILE_START";
const char16_t* time_us_var = u"ZEMBRA_ONEFILE_TIME_US";
const char16_t* random_var = u"ZEMBRA_ONEFILE_RANDOM";
const char16_t* parent_var = u"ZEMBRA_ONEFILE_PARENT";

struct Expansion {
    bool ok;
    std::u16string text;
};

Expansion expand(const std::u16string& spec, size_t capacity = path_capacity) {
    std::u16string buffer(capacity + 1, u'#');   // one guard unit past the capacity
    bool ok = expand_spec(&buffer[0], spec.c_str(), capacity);
    EXPECT_EQ(buffer[capacity], u'#') << "wrote past the capacity";
    return {ok, std::u16string(buffer.c_str())};
}

// A stop without a message: exit code 2, nothing on either stream.
void expect_silent_stop(const std::u16string& spec, size_t capacity = path_capacity) {
    Isolated run = run_isolated([&] { expand(spec, capacity); });
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

bool in_base64url(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' ||
           c == u'_';
}

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class ExpandSpec : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_launcher_state();
    }
};

struct Row {
    const char16_t* spec;
    bool ok;
    std::u16string text;
};

void check_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        Expansion result = expand(row.spec);
        EXPECT_EQ(result.ok, row.ok) << narrow(row.spec);
        EXPECT_EQ(result.text, row.text) << narrow(row.spec);
    }
}

TEST_F(ExpandSpec, EveryPlaceholderWithTheDefaultSystem) {
    check_rows({
        {u"{TEMP}", true, temp},
        {u"{PROGRAM}", true, u"C:\\Apps\\Tool.exe"},
        {u"{PROGRAM_BASE}", true, u"C:\\Apps\\Tool"},
        {u"{PROGRAM_DIR}", true, u"C:\\Apps"},
        {u"{PID}", true, u"4242"},
        {u"{HOME}", true, u"C:\\Users\\user"},
        {u"{CACHE_DIR}", true, cache},
        {u"{COMPANY}", true, company},
        {u"{PRODUCT}", true, product},
        {u"{VERSION}", true, version},
        {u"{FILE_VERSION}", true, version},
        {u"{PRODUCT_VERSION}", true, version},
        {u"{CACHE_DIR}\\Quenlith\\{VERSION}", true, cache + u"\\Quenlith\\" + version},
    });
}

TEST_F(ExpandSpec, EnvironmentHeldPlaceholdersUseTheirVariableUnchecked) {
    fake_os().env[start_var] = u"17";
    fake_os().env[time_us_var] = u"not digits";
    fake_os().env[random_var] = u"any/form at\\all";
    fake_os().env[parent_var] = u"123";
    check_rows({
        {u"{TIME}", true, u"17"},
        {u"{TIME_US}", true, u"not digits"},
        {u"{RANDOM}", true, u"any/form at\\all"},
        {u"{PID}", true, u"123"},
    });
    EXPECT_EQ(fake_os().system_time_reads, 0);
}

TEST_F(ExpandSpec, TemplateSyntax) {
    check_rows({
        {u"", true, u""},
        {u"C:/mixed\\sep arators/", true, u"C:/mixed\\sep arators/"},
        {u"{temp}", true, temp},
        {u"{Temp}\\x", true, temp + u"\\x"},
        {u"{cache_DIR}", true, cache},
        {u"{TEMP}\\x", true, temp + u"\\x"},
        {u"{AB{TEMP}", true, temp},
        {u"abc{TEM", true, u"abc"},
        {u"a{TEMPX}b", false, u"a"},
        {u"a\\{TIME_}", false, u"a\\"},
        {u"ab{}", false, u"ab"},
        {u"{TEMP }", false, u""},
        // A "}" with no placeholder open is plain text.
        {u"a}b{VERSION}}", true, u"a}b" + version + u"}"},
    });
}

TEST_F(ExpandSpec, NamesLongerThanTheNameBufferMatchNothing) {
    std::u16string long_name(5000, u'A');
    check_rows({
        {(u"x{" + long_name + u"}").c_str(), false, u"x"},
        {(u"x{" + long_name).c_str(), true, u"x"},
        {(u"{" + long_name + u"{VERSION}").c_str(), true, version},
    });
}

TEST_F(ExpandSpec, FolderValuesLoseTheirTrailingSeparators) {
    fake_os().profile = u"C:\\";
    fake_os().local_app_data = u"D:\\Data\\\\";
    fake_os().temp_dir = u"E:\\T\\\\\\";
    check_rows({
        {u"{HOME}\\x", true, u"C:\\x"},
        {u"{CACHE_DIR}\\x", true, u"D:\\Data\\x"},
        {u"{TEMP}\\x", true, u"E:\\T\\x"},
        // Only after the three folders; other values keep theirs.
        {u"a\\{VERSION}\\", true, u"a\\" + version + u"\\"},
    });
}

TEST_F(ExpandSpec, FolderThatCannotBeHadFails) {
    fake_os().profile.reset();
    fake_os().local_app_data.reset();
    fake_os().temp_dir.reset();
    check_rows({
        {u"x\\{HOME}", false, u"x\\"},
        {u"x\\{CACHE_DIR}", false, u"x\\"},
        // Without a temporary directory "{TEMP}\x" would name a folder in the
        // root of the drive.
        {u"x\\{TEMP}", false, u"x\\"},
    });
}

TEST_F(ExpandSpec, ProgramPlaceholdersFollowTheModulePath) {
    struct Case {
        std::u16string module_path, base, dir;
    } cases[] = {
        {u"C:\\Apps\\Tool.EXE", u"C:\\Apps\\Tool", u"C:\\Apps"},
        {u"C:\\Apps\\Tool.exe.old", u"C:\\Apps\\Tool.exe.old", u"C:\\Apps"},
        {u"C:\\Apps\\Tool.eXe", u"C:\\Apps\\Tool", u"C:\\Apps"},
        {u"Tool.exe", u"Tool", u"Tool.exe"},
        {u".exe", u"", u".exe"},
        {u"\\\\?\\C:\\Long\\Run.com", u"\\\\?\\C:\\Long\\Run.com", u"\\\\?\\C:\\Long"},
    };
    for (const Case& c : cases) {
        fake_os().module_path = c.module_path;
        check_rows({
            {u"{PROGRAM}", true, c.module_path},
            {u"[{PROGRAM_BASE}]", true, u"[" + c.base + u"]"},
            {u"[{PROGRAM_DIR}]", true, u"[" + c.dir + u"]"},
        });
    }
}

TEST_F(ExpandSpec, ProgramPlaceholdersFailWithoutAModulePath) {
    fake_os().module_path.reset();
    check_rows({
        {u"a{PROGRAM}", false, u"a"},
        {u"a{PROGRAM_BASE}", false, u"a"},
        {u"a{PROGRAM_DIR}", false, u"a"},
    });
}

TEST_F(ExpandSpec, InPlaceValuesAreCutToTheRoomWithoutFailing) {
    // "C:\Apps\Tool.exe" in a capacity of 8 leaves room for seven units.
    EXPECT_EQ(expand(u"{PROGRAM}", 8).text, u"C:\\Apps");
    EXPECT_TRUE(expand(u"{PROGRAM}", 8).ok);
    // Cut to "C:\Apps\", whose last separator then goes.
    EXPECT_EQ(expand(u"ab{PROGRAM_DIR}", 11).text, u"abC:\\Apps");
}

TEST_F(ExpandSpec, PlainCharacterWithoutRoomFails) {
    Expansion result = expand(u"abcd", 4);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text, u"abc");
    result = expand(u"a", 1);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.text, u"");
    EXPECT_TRUE(expand(u"", 1).ok);
    EXPECT_FALSE(expand(u"", 0).ok);
}

TEST_F(ExpandSpec, CopiedValueFillingTheRoomExactlyFits) {
    Expansion result = expand(u"{VERSION}", version.size() + 1);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, version);
    result = expand(u"x{HOME}", 15);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, u"xC:\\Users\\user");
}

TEST_F(ExpandSpec, CopiedValueLongerThanTheRoomStopsSilently) {
    expect_silent_stop(u"{VERSION}", 4);
    expect_silent_stop(u"{VERSION}", version.size());   // one unit short
    expect_silent_stop(u"x{HOME}", 14);
    expect_silent_stop(u"{RANDOM}", 11);
    fake_os().env[random_var] = u"abcdef";
    expect_silent_stop(u"{RANDOM}", 6);
}

TEST_F(ExpandSpec, PidComesFromTheParentVariableWhenItHoldsOnlyDigits) {
    Expansion result = expand(u"{PID}");
    EXPECT_EQ(result.text, u"4242");
    EXPECT_EQ(fake_os().env.count(parent_var), 0u) << "the process id is not stored";

    fake_os().env[parent_var] = u"";   // empty counts as unset
    EXPECT_EQ(expand(u"{PID}").text, u"4242");

    fake_os().pid = 4000000000u;   // a process id is unsigned
    fake_os().env.erase(parent_var);
    EXPECT_EQ(expand(u"{PID}").text, u"4000000000");

    for (const char16_t* bad : {u"12a", u" 12", u"-1", u"\u0661\u0662"}) {
        fake_os().env[parent_var] = bad;
        expect_silent_stop(u"{PID}");
    }
}

TEST_F(ExpandSpec, FreshHeldValuesAreStoredAndRepeated) {
    Expansion result = expand(u"{TIME}|{TIME}|{TIME_US}|{TIME_US}|{RANDOM}|{RANDOM}");
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(fake_os().system_time_reads, 2) << "one reading for TIME, one of its own for TIME_US";

    const std::u16string time = u"134000000000000000";
    const std::u16string time_us = u"000000";
    const std::u16string random = fake_os().env[random_var];
    ASSERT_EQ(random.size(), 11u);
    for (char16_t c : random) EXPECT_TRUE(in_base64url(c));
    EXPECT_EQ(result.text, time + u"|" + time + u"|" + time_us + u"|" + time_us + u"|" + random + u"|" + random);
    EXPECT_EQ(fake_os().env[start_var], time);
    EXPECT_EQ(fake_os().env[time_us_var], time_us);

    // A later expansion in the same process reads them back, whatever the clock says.
    fake_os().system_time += 123456789;
    fake_os().counter += 987;
    EXPECT_EQ(expand(u"{TIME}{TIME_US}{RANDOM}").text, time + time_us + random);
}

TEST_F(ExpandSpec, EmptyHeldVariableCountsAsUnset) {
    fake_os().env[start_var] = u"";
    fake_os().env[random_var] = u"";
    EXPECT_EQ(expand(u"{TIME}").text, u"134000000000000000");
    EXPECT_EQ(expand(u"{RANDOM}").text.size(), 11u);
}

TEST_F(ExpandSpec, MicrosecondsAreSixDigitsOfTheirSecond) {
    const uint64_t second = 134000000000000000ull;   // a whole second in 100 ns units
    struct {
        uint64_t time;
        const char16_t* text;
    } cases[] = {
        {second + 50, u"000005"},       // 5 us into the second
        {second + 59, u"000005"},       // what is below a microsecond is dropped
        {second + 9999990, u"999999"},
        {second + 10000000, u"000000"},
        {second + 1234560, u"123456"},
    };
    for (const auto& c : cases) {
        fake_os().env.erase(time_us_var);
        fake_os().system_time = c.time;
        EXPECT_EQ(expand(u"{TIME_US}").text, c.text);
    }
}

TEST_F(ExpandSpec, StoredValueOutlivesALaterFailure) {
    EXPECT_FALSE(expand(u"{TIME}{NOPE}").ok);
    EXPECT_EQ(fake_os().env[start_var], u"134000000000000000");
}

TEST(RandomText, Base64UrlWithoutPadding) {
    struct {
        unsigned char bytes[8];
        const char* text;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, "AAAAAAAAAAA"},
        {{255, 255, 255, 255, 255, 255, 255, 255}, "__________8"},
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, "YWJjZGVmZ2g"},
        {{0xfb, 0xef, 0xbe, 0xfb, 0xef, 0xbe, 0x00, 0x0f}, "--------AA8"},
    };
    for (const auto& c : cases) {
        char out[12];
        std::memset(out, '#', sizeof out);
        encode_random_text(c.bytes, out);
        EXPECT_STREQ(out, c.text);
    }
}

TEST(RandomText, Xorshift32Bytes) {
    const unsigned char from_one[8] = {0x21, 0x01, 0xc5, 0x4f, 0xd1, 0xd0, 0x1a, 0xb2};
    const unsigned char from_deadbeef[8] = {0xb7, 0x42, 0x58, 0x3b, 0x48, 0x1b, 0x5c, 0xb3};
    unsigned char out[8];
    random_bytes(1, out);
    EXPECT_EQ(0, std::memcmp(out, from_one, 8));
    random_bytes(0, out);   // zero would be a fixed point: it starts as one
    EXPECT_EQ(0, std::memcmp(out, from_one, 8));
    random_bytes(0xdeadbeef, out);
    EXPECT_EQ(0, std::memcmp(out, from_deadbeef, 8));
}

TEST_F(ExpandSpec, BinaryPathAsksTheSystemOnce) {
    const char16_t* first = binary_path();
    fake_os().module_path = u"C:\\Elsewhere\\Other.exe";
    const char16_t* second = binary_path();
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::u16string(second), u"C:\\Apps\\Tool.exe");
    EXPECT_EQ(fake_os().module_path_calls, 1);
}

TEST_F(ExpandSpec, BinaryPathHoldsAPathOf4096Units) {
    std::u16string path = u"C:\\" + std::u16string(path_capacity - 3, u'p');
    ASSERT_EQ(path.size(), path_capacity);
    fake_os().module_path = path;
    EXPECT_EQ(std::u16string(binary_path()), path);
}

TEST_F(ExpandSpec, BinaryPathAsksAgainAfterAFailure) {
    fake_os().module_path.reset();
    EXPECT_EQ(std::u16string(binary_path()), u"");
    fake_os().module_path = u"C:\\Apps\\Late.exe";
    EXPECT_EQ(std::u16string(binary_path()), u"C:\\Apps\\Late.exe");
    EXPECT_EQ(fake_os().module_path_calls, 2);
}

}  // namespace
