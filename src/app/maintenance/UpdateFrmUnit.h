#pragma once
// The online update: whether a reported version is newer, where the setup package lives, and
// the download thread that replaces the package beside the program with a complete, verified
// copy and starts it. The update window (TFrmUpdateRoot) shows what this reports.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "app/shell/ProductInfo.h"
#include "platform/Download.h"

namespace ozm {

inline constexpr std::string_view kUpdateOfferQuestion = "发现更新的版本，是否下载并安装？";
inline constexpr std::string_view kUpdateAlreadyLatest = "当前已是最新版本";
inline constexpr std::string_view kUpdateDownloadFailed =
    "下载地址错误，请稍候再更新，或直接到官方主页更新";
inline constexpr std::string_view kUpdateWindowCaption = "OZM软件在线升级";
inline constexpr std::string_view kUpdateHint = "软件正在更新中，请稍候...";
// The environment variable that replaces the product page address (mirrors, tests).
inline constexpr const char* kProductPageVariable = "OZM_PRODUCT_PAGE";

// `environmentValue` when set and not empty, else the product constant; a "/" is added when
// the address does not end in one, since the update paths are appended to it.
std::string ProductPageAddress(const char* environmentValue);
// The same with $OZM_PRODUCT_PAGE.
std::string ProductPageAddress();

// The package name with this platform's extension: on Linux the setup package is a
// self-contained installer script, "setupQV.exe" becomes "setupQV.run".
std::string PlatformPackageName(std::string_view packageName);

struct UpdatePaths {
    std::string remotePackage;   // product page + "ozmware/update/qv/setupQV.run"
    std::string updatePage;      // product page + "ozmware/update/qv/"
    std::string versionAddress;  // update page + "version.txt": the latest version, plain text
    std::string sumAddress;      // remote package + ".sha256"
    std::filesystem::path localPackage;  // program folder + "setupQV.run"
};

UpdatePaths MakeUpdatePaths(const std::string& productPage,
                            const std::filesystem::path& programFolder);

// True when `latest` exceeds `current` by more than 0.001, both held in single precision as
// the program's own version is: 2.3 and 2.3005 are not newer than 2.3, 2.31 is.
bool ShouldOfferUpdate(float latest, float current = kProductVersion);

// A version number as the update page publishes it: decimal digits with an optional
// fraction, blanks and line ends around it allowed. Nothing for anything else.
std::optional<float> ParseVersionText(std::string_view text);

// The first word of a checksum file ("<64 hex digits>  setupQV.run"), lower-cased; nothing
// unless it is exactly 64 hexadecimal digits.
std::optional<std::string> ParseSha256Text(std::string_view text);

// What the download thread tells its window. All three are called on the download thread;
// the window passes them on to its own thread.
class UpdateHost {
  public:
    virtual ~UpdateHost() = default;
    // `total` is -1 when the server announced no length. At most 20 reports a second; the
    // last of a complete transfer has current == total.
    virtual void DownloadProgress(std::uint64_t current, std::int64_t total) = 0;
    // Once per failed attempt; the package path then holds whatever it held before (no
    // partial file) and nothing was started.
    virtual void DownloadFailed() = 0;
    // The verified package is in place and started.
    virtual void PackageStarted() = 0;
};

class OnlineUpdate {
  public:
    explicit OnlineUpdate(UpdateHost& host) : host_(host) {}
    // Cancels a running download and waits for its thread: the temporary file is removed and
    // nothing is started or reported.
    ~OnlineUpdate();
    OnlineUpdate(const OnlineUpdate&) = delete;
    OnlineUpdate& operator=(const OnlineUpdate&) = delete;

    // Sets the addresses and the package file for the next Start; ignored while running.
    void Prepare(UpdatePaths paths);
    const UpdatePaths& Paths() const { return paths_; }

    // Starts the download thread. False, starting nothing, while one runs.
    bool Start();
    bool Running() const { return running_.load(); }

    // Stops a running download as soon as it looks (within about 50 ms); no report follows.
    void Cancel();
    void Wait();

    void SetLimits(const DownloadLimits& limits) { limits_ = limits; }

  private:
    void Work();
    bool Steps();
    // Sleeps, or returns true early when cancelled.
    bool SleepCancelled(std::chrono::milliseconds time);

    UpdateHost& host_;
    UpdatePaths paths_;
    DownloadLimits limits_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> running_{false};
    std::mutex sleepMutex_;
    std::condition_variable sleepWake_;
    std::thread thread_;
};

// Reads the latest version from the update page on a thread of its own, so the window never
// waits for the network.
class VersionCheck {
  public:
    VersionCheck() = default;
    ~VersionCheck();
    VersionCheck(const VersionCheck&) = delete;
    VersionCheck& operator=(const VersionCheck&) = delete;

    // `done` runs on the check's thread with the number read, or nothing when it could not be
    // read; never after Cancel. False, starting nothing, while a check runs.
    bool Start(std::string address, std::function<void(std::optional<float>)> done);
    bool Running() const { return running_.load(); }
    void Cancel();
    void Wait();

  private:
    std::atomic<bool> cancel_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace ozm
