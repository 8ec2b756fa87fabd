// The POSIX file services against a real scratch directory: directory
// creation results, truncating opens, writes, which files can be read, and
// how a reader and a writer of one file keep out of each other's way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/posix/convert.h"
#include "scratch_dir.h"

namespace {

class PosixFiles : public ScratchDir {};

TEST_F(PosixFiles, CreateDirSaysWhetherItWasThere) {
    put("file", "x");
    ASSERT_EQ(mkdir(native("dir").c_str(), 0777), 0);
    struct Case {
        const char* name;
        DirResult result;
    };
    const Case cases[] = {
        {"new", DirResult::created},
        {"dir", DirResult::already_exists},
        {"file", DirResult::already_exists},   // as the system answers; the open below it fails later
        {"missing/child", DirResult::failed},
        {"\xc3\xa9l\xc3\xa0n \xe2\x9c\x93", DirResult::created},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(os_create_dir(path(c.name).c_str()), c.result);
    }
    struct stat info;
    EXPECT_EQ(stat(native("\xc3\xa9l\xc3\xa0n \xe2\x9c\x93").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(os_create_dir(path("missing/child").c_str()), DirResult::failed);
    EXPECT_EQ(os_last_error(), static_cast<uint32_t>(ENOENT));
}

TEST_F(PosixFiles, OpenForWriteTruncatesAndWritesWhole) {
    put("existing", "a much longer old content");
    FileHandle file = os_open_for_write(path("existing").c_str());
    ASSERT_NE(file, nullptr);
    uint32_t written = 0;
    EXPECT_TRUE(os_write_file(file, "new", 3, &written));
    EXPECT_EQ(written, 3u);
    os_close_file(file);
    EXPECT_EQ(get("existing"), "new");

    ASSERT_EQ(mkdir(native("dir").c_str(), 0777), 0);
    EXPECT_EQ(os_open_for_write(path("dir").c_str()), nullptr);
    EXPECT_EQ(os_open_for_write(path("missing/file").c_str()), nullptr);
    EXPECT_EQ(os_last_error(), static_cast<uint32_t>(ENOENT));
}

// Existing files are read for their checksum: regular files only, whole,
// and not while another launcher writes them; a FIFO must not block.
TEST_F(PosixFiles, OpenForReadGivesRegularFilesNotBeingWritten) {
    const std::string content = std::string("a\0b", 3) + std::string(100000, 'x');
    put("plain", content);
    put("empty", "");
    ASSERT_EQ(mkdir(native("dir").c_str(), 0777), 0);
    ASSERT_EQ(mkfifo(native("fifo").c_str(), 0666), 0);

    for (const char* name : {"plain", "empty"}) {
        SCOPED_TRACE(name);
        ReadHandle file = os_open_for_read(path(name).c_str());
        ASSERT_NE(file, nullptr);
        std::string read;
        char buffer[4096];
        uint32_t got = 0;
        while (os_read_file(file, buffer, sizeof buffer, &got) && got > 0) read.append(buffer, got);
        os_close_read(file);
        EXPECT_EQ(read, std::string(name) == "plain" ? content : "");
    }
    for (const char* name : {"dir", "fifo", "missing"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(os_open_for_read(path(name).c_str()), nullptr);
    }

}

// A file that another launcher reads to check it cannot be emptied under it:
// the open fails at once as in use, never waiting for a reader that may have
// stalled. A file that another launcher is writing, stalled or not, can be
// read (it differs) and rewritten.
TEST_F(PosixFiles, FileBeingReadIsInUseAndFileBeingWrittenIsNot) {
    put("checked", "whole content");
    ReadHandle reader = os_open_for_read(path("checked").c_str());
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(os_open_for_write(path("checked").c_str()), nullptr);
    EXPECT_EQ(os_last_error(), static_cast<uint32_t>(EWOULDBLOCK));
    os_close_read(reader);
    EXPECT_EQ(get("checked"), "whole content");

    FileHandle first = os_open_for_write(path("written").c_str());
    ASSERT_NE(first, nullptr);
    uint32_t written = 0;
    ASSERT_TRUE(os_write_file(first, "half", 4, &written));
    reader = os_open_for_read(path("written").c_str());
    ASSERT_NE(reader, nullptr) << "half written, so it differs";
    os_close_read(reader);
    FileHandle second = os_open_for_write(path("written").c_str());
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(os_write_file(second, "whole", 5, &written));
    os_close_file(second);
    os_close_file(first);
    EXPECT_EQ(get("written"), "whole");
}

// The block has no modes: what a file starts with decides whether it can be
// run. The head may arrive over several writes, and a rewritten file takes
// the mode of its new content, not the one it had.
TEST_F(PosixFiles, FilesThatStartLikeProgramsAreMadeExecutable) {
    struct Case {
        const char* name;
        std::string first, second;   // the content, written in two pieces
        bool executable;
    };
    const Case cases[] = {
        {"elf", std::string("\x7f" "ELF\x02\x01", 6), "", true},
        {"elf-split", std::string("\x7f" "E", 2), "LF rest", true},
        {"script", "#!/bin/sh\n", "exit 0\n", true},
        {"bare-shebang", "#!", "", true},
        {"data", "hello", "", false},
        {"hash", "#", "", false},
        {"elf-later", "x\x7f" "ELF", "", false},
        {"empty", "", "", false},
        {"was-executable", "data now", "", false},
    };
    put("was-executable", "#!/bin/sh\n");
    ASSERT_EQ(chmod(native("was-executable").c_str(), 0755), 0);

    mode_t mask = umask(027);   // a mask of the user's own shows through
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileHandle file = os_open_for_write(path(c.name).c_str());
        ASSERT_NE(file, nullptr);
        uint32_t written = 0;
        EXPECT_TRUE(os_write_file(file, c.first.data(), static_cast<uint32_t>(c.first.size()), &written));
        EXPECT_TRUE(os_write_file(file, c.second.data(), static_cast<uint32_t>(c.second.size()), &written));
        os_close_file(file);
        EXPECT_EQ(get(c.name), c.first + c.second);
        struct stat info;
        ASSERT_EQ(stat(native(c.name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.executable ? 0750u : 0640u);
    }
    umask(mask);
}

}  // namespace
