#pragma once
// Mounted volumes: what stands in for drive letters. A removable volume's mount point is its
// "drive root"; a path's drive is the volume folder it lies under, or "/".

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ozm {

struct MountedVolume {
    std::filesystem::path mountPoint;  // octal escapes of mountinfo ("\040") decoded
    std::string device;                // mount source, e.g. /dev/sdb1
    std::string fileSystem;            // e.g. vfat, ext4, tmpfs
    bool removable = false;
    std::string deviceNumber;    // "MAJOR:MINOR" of st_dev, the key into /sys/dev/block
    std::filesystem::path root;  // the folder of the file system mounted ("/" unless bound)
};

// The rows of a /proc/PID/mountinfo text; malformed lines are skipped.
std::vector<MountedVolume> ParseMountInfo(std::string_view text);

class Drives {
  public:
    virtual ~Drives() = default;
    // Every mounted volume, removable flag decided.
    virtual std::vector<MountedVolume> Volumes() const = 0;
    // The first removable volume's mount point, ordered by mount point; empty when none.
    std::filesystem::path FirstRemovableVolume() const;
    // The drive of a path: for a path under /media/USER, /run/media/USER or /mnt, that
    // volume's folder (/media/USER/NAME, /mnt/NAME); otherwise "/".
    std::filesystem::path DriveOf(const std::filesystem::path& path) const;
    // True while `drive` is "/" or the mount point of a mounted volume (a leftover folder of
    // an unplugged disk does not count).
    bool DriveExists(const std::filesystem::path& drive) const;
};

// The running system: /proc/self/mountinfo and /sys/dev/block. The roots and the user name
// are injectable for tests (fixtures of mountinfo and sysfs in temporary folders).
class SystemDrives : public Drives {
  public:
    struct Roots {
        std::filesystem::path mountInfo = "/proc/self/mountinfo";
        std::filesystem::path sysBlock = "/sys/dev/block";
        std::string userName;  // empty: this process's user
    };
    SystemDrives();
    explicit SystemDrives(Roots roots);
    std::vector<MountedVolume> Volumes() const override;

  private:
    Roots roots_;
};

// A fixed table of volumes: for tests of the code that asks about volumes, and for asking
// several questions of one reading of the system's table.
class FixedDrives : public Drives {
  public:
    explicit FixedDrives(std::vector<MountedVolume> volumes) : volumes_(std::move(volumes)) {}
    std::vector<MountedVolume> Volumes() const override { return volumes_; }

  private:
    std::vector<MountedVolume> volumes_;
};

}  // namespace ozm
