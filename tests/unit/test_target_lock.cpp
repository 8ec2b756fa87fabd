// The lock that keeps launchers started together from rewriting each
// other's files: when it is taken, what is looked at again once it is held,
// and when it is never needed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "attached_fixture.h"
#include "fake_os.h"
#include "isolated.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "payload/attached.h"
#include "payload/target_lock.h"
#include "payload/unpack.h"

namespace {

using Files = std::vector<std::pair<std::u16string, std::string>>;

const std::u16string target = u"C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20";
std::u16string path(const std::u16string& name) { return target + u"\\" + name; }

const Files payload = {
    {u"app.exe", fixture::sample_bytes(50000, 1)},
    {u"lib\\one.dll", fixture::sample_bytes(70000, 2)},
    {u"lib\\two.dll", "two"},
};

std::string stream_of(const Files& files) {
    std::string out;
    for (const auto& [name, data] : files) out += fixture::entry(name, data);
    return out + fixture::end_marker;
}

// How the lock of the next start turns out.
void lock_ends(LockResult outcome) {
    fake_os().lock_fails = outcome == LockResult::failed;
    fake_os().lock_times_out = outcome == LockResult::timed_out;
}

std::u16string key_of(const std::u16string& dir) {
    char16_t key[target_lock_key_capacity];
    target_lock_key(dir.c_str(), key);
    return key;
}

class TargetLock : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        forget_run();
        block_ = fixture::block(fixture::compress(stream_of(payload)));
    }
    void TearDown() override { forget_run(); }

    // What one run of the launcher leaves in the process, gone; the next
    // run unpacks into the same target.
    void forget_run() {
        unlock_target_dir();
        reset_launcher_state();
        text_copy(launcher.target_dir, target.c_str(), path_capacity);
    }

    void start() {
        forget_run();
        fake_os().opened_for_write.clear();
        fixture::attach(block_);
        open_attached();
        unpack_entries();
    }

    std::string block_;
};

TEST_F(TargetLock, FirstStartLocksOnceBeforeItsFirstWriteAndReleasesAtTheEnd) {
    FakeOs& os = fake_os();
    start();
    EXPECT_EQ(os.lock_dirs, std::vector<std::u16string>{target});
    EXPECT_EQ(os.lock_keys, std::vector<std::u16string>{key_of(target)});
    EXPECT_EQ(os.lock_timeouts, std::vector<uint32_t>{unpack_lock_wait_ms}) << "a stalled holder must not hold it for good";
    EXPECT_EQ(os.lock_dir_existed, std::vector<bool>{true}) << "a directory lock needs its directory";
    EXPECT_EQ(os.opened_before_lock, std::vector<size_t>{0});
    EXPECT_EQ(os.locks_held, 0);
    for (const auto& [name, data] : payload) EXPECT_EQ(os.files.at(path(name)), data);
}

TEST_F(TargetLock, StartThatFindsEverythingInPlaceNeverLocks) {
    start();
    FakeOs& os = fake_os();
    os.lock_dirs.clear();
    start();
    EXPECT_TRUE(os.lock_dirs.empty());
    EXPECT_TRUE(os.opened_for_write.empty());
}

// While this launcher waited, another one wrote into the directory: what it
// finished is left alone, so a child already running on it is not disturbed,
// also when the holder then stalled and the wait ran out.
TEST_F(TargetLock, FilesWrittenByTheHolderMeanwhileAreNotRewritten) {
    struct Case {
        const char* holder;
        size_t files_it_finished;
        LockResult lock;
        std::vector<std::u16string> still_written;
    };
    const Case cases[] = {
        {"finished every file", payload.size(), LockResult::acquired, {}},
        {"was killed after the first file", 1, LockResult::acquired, {path(u"lib\\one.dll"), path(u"lib\\two.dll")}},
        {"stalled after the first file", 1, LockResult::timed_out, {path(u"lib\\one.dll"), path(u"lib\\two.dll")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        SetUp();
        FakeOs& os = fake_os();
        lock_ends(c.lock);
        os.on_lock = [&] {
            os.dirs.insert(path(u"lib"));
            for (size_t i = 0; i < c.files_it_finished; ++i) os.files[path(payload[i].first)] = payload[i].second;
        };
        start();
        EXPECT_EQ(os.opened_for_write, c.still_written);
        for (const auto& [name, data] : payload) EXPECT_EQ(os.files.at(path(name)), data);
    }
}

// A lock that fails, or that a stalled launcher holds past the bound: the
// launcher goes on and writes every file that differs, as with no lock.
TEST_F(TargetLock, LockThatCannotBeHadLeavesUnpackingAsWithoutOne) {
    for (LockResult outcome : {LockResult::failed, LockResult::timed_out}) {
        SCOPED_TRACE(outcome == LockResult::failed ? "failed" : "timed out");
        SetUp();
        FakeOs& os = fake_os();
        lock_ends(outcome);
        start();
        EXPECT_EQ(os.lock_dirs.size(), 1u) << "tried once per run, not once per file";
        EXPECT_EQ(os.opened_for_write.size(), payload.size());
        EXPECT_EQ(os.locks_held, 0) << "no lock released that was never had";
        for (const auto& [name, data] : payload) EXPECT_EQ(os.files.at(path(name)), data);
    }
}

// Another launcher checking a file holds it for a moment; the lock holder
// waits that out, but not a program that keeps the file open.
TEST_F(TargetLock, WriterWaitsOutABriefHolderOnlyWhileItHoldsTheLock) {
    struct Case {
        const char* holder;
        int busy_opens;
        LockResult lock;
        std::string out;
        int exit_code;
    };
    const Case cases[] = {
        {"a check that ends", 3, LockResult::acquired, "written\npauses=3\n", 0},
        {"a program that keeps it", 1000000, LockResult::acquired, "pauses=200\n", fatal_exit_code},
        {"a check, without the lock", 1, LockResult::failed, "pauses=0\n", fatal_exit_code},
        {"a check, after the wait for the lock ran out", 1, LockResult::timed_out, "pauses=0\n", fatal_exit_code},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        SetUp();
        FakeOs& os = fake_os();
        os.in_use[path(u"lib\\one.dll")] = c.busy_opens;
        lock_ends(c.lock);
        Isolated run = run_isolated([&] {
            std::atexit([] { std::printf("pauses=%zu\n", fake_os().sleeps.size()); });
            start();
            if (fake_os().files.at(path(u"lib\\one.dll")) == payload[1].second) std::printf("written\n");
            std::exit(0);
        });
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.exit_code == 0 ? ""
                                            : "Error, failed to open 'C:\\Users\\user\\AppData\\Local\\Quenlith\\1.0.20"
                                              "\\lib\\one.dll' for writing.\n");
    }
}

TEST(TargetLockKey, OneKeyPerDirectoryWhateverItsSpelling) {
    const std::u16string base = u"C:\\Users\\Ann\\AppData\\Local\\Quenlith\\1.0.20";
    const std::u16string key = key_of(base);
    ASSERT_EQ(key.size(), 30u);
    EXPECT_EQ(key.rfind(u"zembra-unpack-", 0), 0u);
    for (char16_t unit : key.substr(14)) EXPECT_TRUE((unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f'));

    for (const std::u16string same : {u"c:\\users\\ann\\appdata\\local\\quenlith\\1.0.20",
                                      u"C:\\Users\\Ann\\AppData\\Local\\Quenlith\\1.0.20\\\\",
                                      u"C:/Users/Ann/AppData/Local/Quenlith/1.0.20"}) {
        EXPECT_EQ(key_of(same), key);
    }
    for (const std::u16string other : {u"C:\\Users\\Bob\\AppData\\Local\\Quenlith\\1.0.20",
                                       u"C:\\Users\\Ann\\AppData\\Local\\Quenlith\\1.0.21",
                                       u"C:\\Users\\\u00c4nn\\AppData\\Local\\Quenlith\\1.0.20", u"C:\\", u""}) {
        EXPECT_NE(key_of(other), key);
    }
}

}  // namespace
