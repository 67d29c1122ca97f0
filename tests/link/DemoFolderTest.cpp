// The demo folder that scripts/run.sh opens the window in must let a newcomer
// do the main job: every visible kind lists an image, and the software kinds
// show the version texts stored in theirs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ImageRules.h"

namespace fs = std::filesystem;
using namespace tarven;

TEST(DemoFolder, EveryVisibleKindListsAnImageAndSoftwareImagesCarryVersions) {
    const fs::path folder = fs::temp_directory_path() / ("tarven-demo-test-" + std::to_string(getpid()));
    fs::remove_all(folder);
    const std::string command =
        std::string("python3 ") + TARVEN_SOURCE_DIR "/scripts/make-demo-folder.py " + folder.string() + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    // The seventh kind's radio button is hidden, so the window never lists for it.
    for (const KindRules& rules : kKindTable) {
        if (rules.kind == ImageKind::FullX) continue;
        int listed = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const auto size = RegularFileSize(entry.path().string());
            if (!size || !rules.AcceptsSize(*size)) continue;
            ++listed;
            if (rules.versionTexts && *size >= kSmallImageLength) {
                const auto versions = ReadImageVersions(entry.path().string());
                ASSERT_TRUE(versions.has_value()) << entry.path();
                EXPECT_FALSE(versions->software.empty()) << entry.path();
                EXPECT_FALSE(versions->hardware.empty()) << entry.path();
            }
        }
        EXPECT_GE(listed, 1) << "kind " << rules.name;
    }
    fs::remove_all(folder);
}
