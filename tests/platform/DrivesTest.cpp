#include <gtest/gtest.h>

#include <fstream>

#include "platform/Drives.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

// A root file system, a tmpfs, a USB stick with a blank in its label, an SD card in a built-in
// reader mounted by udisks, a loop-mounted image, a bind mount of a home folder, a USB disk
// that says it is fixed, and a card reader whose disk (not the partition) is removable.
constexpr const char* kMountInfo =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "30 22 0:25 / /tmp rw,nosuid shared:5 - tmpfs tmpfs rw,size=8g\n"
    "40 22 8:17 / /media/alice/USB\\040STICK rw,nosuid,nodev shared:40 - vfat /dev/sdb1 rw\n"
    "41 22 179:1 / /media/alice/SD rw,nosuid shared:41 master:3 - exfat /dev/mmcblk0p1 rw\n"
    "42 22 7:0 / /mnt/iso ro,relatime - iso9660 /dev/loop0 ro\n"
    "43 22 8:2 /home/alice/share /srv/share rw,relatime - ext4 /dev/sda2 rw\n"
    "44 22 8:33 / /mnt/backup rw,relatime - ext4 /dev/sdc1 rw\n"
    "45 22 8:49 / /mnt/card rw,relatime - vfat /dev/sdd1 rw\n"
    "garbage line\n"
    "46 22 8:50 / /mnt/broken rw no dash here at all\n"
    "\n";

// /sys/dev/block/MAJ:MIN links into a /sys/devices tree, as the kernel lays them out.
void AddDevice(const fs::path& sys, const std::string& number, const std::string& devicePath,
               const std::string& removable, bool flagOnDisk) {
    const fs::path device = sys / "devices" / devicePath;
    fs::create_directories(device);
    test::WriteText((flagOnDisk ? device.parent_path() : device) / "removable", removable + "\n");
    fs::create_directories(sys / "dev" / "block");
    fs::create_symlink(device, sys / "dev" / "block" / number);
}

struct Fixture {
    test::ScratchDir dir;
    SystemDrives::Roots roots;

    explicit Fixture(const std::string& user) {
        const fs::path sys = dir / "sys";
        AddDevice(sys, "8:2", "pci0000:00/0000:00:17.0/ata1/host0/block/sda/sda2", "0", true);
        AddDevice(sys, "8:17", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/block/sdb/sdb1", "1",
                  true);
        AddDevice(sys, "179:1", "platform/mmc0/mmc0:0001/block/mmcblk0/mmcblk0p1", "0", true);
        AddDevice(sys, "7:0", "virtual/block/loop0", "0", false);
        AddDevice(sys, "8:33", "pci0000:00/0000:00:14.0/usb3/3-2/3-2:1.0/host7/block/sdc/sdc1", "0",
                  true);
        AddDevice(sys, "8:49", "pci0000:00/0000:00:1c.0/ata2/host1/block/sdd/sdd1", "1", true);
        test::WriteText(dir / "mountinfo", kMountInfo);
        roots.mountInfo = dir / "mountinfo";
        roots.sysBlock = sys / "dev" / "block";
        roots.userName = user;
    }
};

TEST(Drives, MountInfoFieldsEscapesAndMalformedLines) {
    const std::vector<MountedVolume> v = ParseMountInfo(kMountInfo);
    ASSERT_EQ(v.size(), 8u);
    EXPECT_EQ(v[0].mountPoint, "/");
    EXPECT_EQ(v[0].device, "/dev/sda2");
    EXPECT_EQ(v[0].fileSystem, "ext4");
    EXPECT_EQ(v[2].mountPoint, "/media/alice/USB STICK");
    EXPECT_EQ(v[2].deviceNumber, "8:17");
    EXPECT_EQ(v[3].fileSystem, "exfat");  // two optional fields before the dash
    EXPECT_EQ(v[5].root, "/home/alice/share");
    // Tab, newline and backslash escapes; an escape cut short stays as written.
    const auto odd = ParseMountInfo("1 2 0:1 / /mnt/a\\011b\\012c\\134d\\04 rw - tmpfs x\\040y rw");
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].mountPoint, "/mnt/a\tb\nc\\d\\04");
    EXPECT_EQ(odd[0].device, "x y");
    EXPECT_TRUE(ParseMountInfo("").empty());
    EXPECT_TRUE(ParseMountInfo("1 2 0:1 / relative rw - tmpfs t rw").empty());
}

TEST(Drives, RemovableBySysfsFlagUsbPathOrUdisksFolder) {
    Fixture f("alice");
    const SystemDrives drives(f.roots);
    std::vector<std::string> removable;
    for (const MountedVolume& v : drives.Volumes()) {
        if (v.removable) removable.push_back(v.mountPoint.string());
    }
    EXPECT_EQ(removable, (std::vector<std::string>{"/media/alice/USB STICK", "/media/alice/SD",
                                                   "/mnt/backup", "/mnt/card"}));
    EXPECT_EQ(drives.FirstRemovableVolume(), "/media/alice/SD");

    // Another user: the SD card is alice's udisks mount, not a removable one for bob.
    Fixture other("bob");
    EXPECT_EQ(SystemDrives(other.roots).FirstRemovableVolume(), "/media/alice/USB STICK");

    // Nothing removable, or no table at all.
    EXPECT_TRUE(FixedDrives({}).FirstRemovableVolume().empty());
    SystemDrives::Roots missing = f.roots;
    missing.mountInfo = f.dir / "none";
    EXPECT_TRUE(SystemDrives(missing).Volumes().empty());
}

TEST(Drives, DriveOfAPathAndWhetherItExists) {
    Fixture f("alice");
    const SystemDrives drives(f.roots);
    EXPECT_EQ(drives.DriveOf("/media/alice/USB STICK/photos/a.jpg"), "/media/alice/USB STICK");
    EXPECT_EQ(drives.DriveOf("/media/alice/SD/"), "/media/alice/SD");
    EXPECT_EQ(drives.DriveOf("/mnt/iso/dir/../x"), "/mnt/iso");
    EXPECT_EQ(drives.DriveOf("/home/alice/Pictures"), "/");
    EXPECT_EQ(drives.DriveOf("/srv/share/x"), "/");
    EXPECT_EQ(drives.DriveOf("relative/folder"), "/");
    EXPECT_TRUE(drives.DriveExists("/"));
    EXPECT_TRUE(drives.DriveExists("/media/alice/SD/"));
    EXPECT_TRUE(drives.DriveExists("/mnt/iso"));

    // An unplugged disk: its folder may be left behind, but it is no mount point.
    EXPECT_EQ(drives.DriveOf("/media/alice/CAMERA/DCIM"), "/media/alice/CAMERA");
    EXPECT_FALSE(drives.DriveExists("/media/alice/CAMERA"));
    EXPECT_EQ(drives.DriveOf("/run/media/alice/CAM/DCIM/100"), "/run/media/alice/CAM");
    EXPECT_FALSE(drives.DriveExists("/run/media/alice/CAM"));
    EXPECT_EQ(drives.DriveOf("/mnt/gone/photos"), "/mnt/gone");
    EXPECT_FALSE(drives.DriveExists("/mnt/gone"));
    EXPECT_FALSE(drives.DriveExists("/media/alice"));

    // A volume mounted straight under /media (no user folder) holds its paths.
    std::vector<MountedVolume> volumes(2);
    volumes[0].mountPoint = "/";
    volumes[1].mountPoint = "/media/usb0";
    const FixedDrives flat(volumes);
    EXPECT_EQ(flat.DriveOf("/media/usb0/a/b"), "/media/usb0");
    EXPECT_TRUE(flat.DriveExists(flat.DriveOf("/media/usb0/a/b")));
}

TEST(Drives, TheRunningSystemHasARoot) {
    const SystemDrives drives;
    EXPECT_FALSE(drives.Volumes().empty());
    EXPECT_TRUE(drives.DriveExists("/"));
}

}  // namespace
}  // namespace ozm
