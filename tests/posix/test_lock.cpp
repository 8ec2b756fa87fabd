// The POSIX unpack lock against a real directory: flock locks belong to an
// open file, so two locks taken in this one process contend as two launchers
// would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/convert.h"

namespace {

class PosixLock : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/posix-lock.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        dir_.resize(root_.size() + 1);
        native_to_utf16(root_.c_str(), dir_.data(), dir_.size());
        dir_.resize(root_.size());
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    LockResult lock(uint32_t timeout_ms, DirLock* out, const std::u16string& dir) {
        return os_lock_dir(dir.c_str(), u"zembra-unpack-0123456789abcdef", timeout_ms, out);
    }
    LockResult lock(uint32_t timeout_ms, DirLock* out) { return lock(timeout_ms, out, dir_); }

    std::string root_;
    std::u16string dir_;
};

TEST_F(PosixLock, SecondHolderTimesOutWhileTheFirstKeepsItAndGetsItOnceFree) {
    DirLock first = nullptr;
    ASSERT_EQ(lock(0, &first), LockResult::acquired);
    DirLock second = nullptr;
    EXPECT_EQ(lock(0, &second), LockResult::timed_out);
    EXPECT_EQ(lock(200, &second), LockResult::timed_out);
    EXPECT_EQ(second, nullptr);
    os_unlock_dir(first);
    ASSERT_EQ(lock(0, &second), LockResult::acquired);
    os_unlock_dir(second);
}

// A wait that ends when the holder lets go, well within the bound; a lock
// that gave up at once would fail here.
TEST_F(PosixLock, WaiterGetsTheLockWhenTheHolderLetsGo) {
    DirLock first = nullptr;
    ASSERT_EQ(lock(0, &first), LockResult::acquired);
    std::thread holder([first] {
        usleep(200 * 1000);
        os_unlock_dir(first);
    });
    DirLock second = nullptr;
    EXPECT_EQ(lock(60 * 1000, &second), LockResult::acquired);
    holder.join();
    if (second != nullptr) os_unlock_dir(second);
}

TEST_F(PosixLock, MissingDirectoryFails) {
    DirLock out = nullptr;
    EXPECT_EQ(lock(1000, &out, dir_ + u"/missing"), LockResult::failed);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
