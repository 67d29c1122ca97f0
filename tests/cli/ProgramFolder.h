// A fresh folder per test for tarven-link to work in, with the small file
// helpers both end-to-end suites need.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "SimReceiver.h"

namespace tarven::cli::test {

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline sim::Bytes RandomImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    sim::Bytes bytes(size);
    for (auto& b : bytes) b = std::uint8_t(random());
    return bytes;
}

class ProgramFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarven-link-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Write(const std::string& name, const sim::Bytes& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return name;
    }
    sim::Bytes Read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return sim::Bytes(std::istreambuf_iterator<char>(in), {});
    }
    bool Exists(const std::string& name) { return ::access((dir_ + "/" + name).c_str(), F_OK) == 0; }
    std::vector<std::string> Listing() {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir_.c_str())) {
            while (const dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
};

}  // namespace tarven::cli::test
