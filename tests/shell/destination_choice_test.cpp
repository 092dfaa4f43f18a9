// The places and the stored value of the tools window's folder chooser.
#include <gtest/gtest.h>

#include "shell/DestinationChoice.h"

namespace {

TEST(DestinationChoice, PlacesAreHomeTheFileSystemAndMountedCards) {
    const std::string mounts =
        "/dev/sda2 / ext4 rw 0 0\n"
        "proc /proc proc rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/sda1 /boot/efi vfat rw 0 0\n"
        "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
        "/dev/sdb1 /media/anna/NIKON\\040D50 vfat rw 0 0\n"
        "/dev/sdc1 /srv/photos ext4 rw 0 0\n";
    const auto places = shell::FolderPlacesFrom("/home/anna/", mounts);
    std::vector<std::string> paths;
    for (const auto& place : places) paths.push_back(place.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/home/anna", "/", "/media/anna/NIKON D50", "/srv/photos"}));

    // The place that holds a folder most closely.
    EXPECT_EQ(shell::PlaceOf("/home/anna/Documents", places), 0u);
    EXPECT_EQ(shell::PlaceOf("/home/annabel", places), 1u);
    EXPECT_EQ(shell::PlaceOf("/media/anna/NIKON D50/DCIM", places), 2u);
    EXPECT_EQ(shell::PlaceOf("/srv/photos", places), 3u);
}

TEST(DestinationChoice, TheStoredRootEndsInOneSlash) {
    EXPECT_EQ(shell::DestinationRootFor("/home/anna/Pictures"), "/home/anna/Pictures/");
    EXPECT_EQ(shell::DestinationRootFor("/"), "/");
    EXPECT_EQ(shell::NearestExistingFolder("/nonexistent-tranquo/a/b"), "/");
}

} // namespace
