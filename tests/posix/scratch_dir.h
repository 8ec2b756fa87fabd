// A real scratch directory for the POSIX platform tests, made afresh for
// each test and removed after it, with the paths of its files both as the
// launcher's logic passes them (UTF-16) and as the system takes them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/posix/convert.h"

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = "/tmp/zembra-posix.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    // The scratch path of `name` (UTF-8) as the logic passes it.
    std::u16string path(const std::string& name) {
        std::string native = root_ + "/" + name;
        std::u16string wide(native.size() + 1, u'\0');
        native_to_utf16(native.c_str(), wide.data(), wide.size());
        wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
        return wide;
    }
    std::string native(const std::string& name) { return root_ + "/" + name; }
    void put(const std::string& name, const std::string& data) { std::ofstream(native(name), std::ios::binary) << data; }
    std::string get(const std::string& name) {
        std::ifstream in(native(name), std::ios::binary);
        std::stringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::string root_;
};
