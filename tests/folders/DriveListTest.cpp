#include "DriveList.h"

#include <gtest/gtest.h>

namespace tarven {
namespace {

TEST(DriveListTest, OffersTheRootAndRemovableVolumesFromTheMountTable) {
    const QByteArray table =
        "/dev/sda1 / ext4 rw,relatime 0 0\n"
        "proc /proc proc rw 0 0\n"
        "/dev/sdb1 /media/tech/USB\\040STICK vfat rw 0 0\n"
        "/dev/sdc1 /run/media/tech/Disk ext4 rw 0 0\n"
        "/dev/sdd1 /mnt ext4 rw 0 0\n"
        "/dev/sdd2 /mnt/backup ext4 rw 0 0\n"
        "/dev/sdb1 /media/tech/USB\\040STICK vfat rw 0 0\n"
        "/dev/sde1 /mntx ext4 rw 0 0\n"
        "tmpfs /media tmpfs rw 0 0\n"
        "/dev/sdf1 /home/tech/media ext4 rw 0 0\n";
    const QStringList points = ParseMountPoints(table);
    EXPECT_TRUE(points.contains("/media/tech/USB STICK"));
    EXPECT_EQ(DriveEntries(points), (QStringList{"[-/-]", "[-/media/tech/USB STICK-]", "[-/mnt-]", "[-/mnt/backup-]",
                                                 "[-/run/media/tech/Disk-]"}));
    EXPECT_EQ(DriveEntries({}), QStringList{"[-/-]"});
}

TEST(DriveListTest, EntriesNameTheirMountPointAndTheDeepestOneHoldsAPath) {
    EXPECT_EQ(MountPointOfEntry("[-/-]"), QString("/"));
    EXPECT_EQ(MountPointOfEntry("[-/media/a b-]"), QString("/media/a b"));
    for (const char* junk : {"-]", "[--]", "/media/x", "[-/media/x", ""}) {
        EXPECT_FALSE(MountPointOfEntry(junk).has_value()) << junk;
    }

    const QStringList entries{"[-/-]", "[-/media/usb-]", "[-/media/usb/inner-]", "[-/mnt-]"};
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/home/tech"), 0);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usb"), 1);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usb/a"), 1);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usbstick"), 0);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usb/inner/x"), 2);
    EXPECT_EQ(DriveEntryIndexForPath({"[-/mnt-]", "[-/-]"}, "/mnt/x"), 0);
    EXPECT_EQ(DriveEntryIndexForPath({"[-/mnt-]", "[-/-]"}, "/etc"), 1);
}

}  // namespace
}  // namespace tarven
