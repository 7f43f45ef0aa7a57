#include "app/maintenance/UpdateFrmUnit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/Processes.h"
#include "platform/FileHash.h"

namespace ozm {

namespace {

namespace fs = std::filesystem;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A file made exclusively beside the package, readable only by us, removed again unless it
// was renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(const fs::path& beside) {
        std::string hidden = ".";
        hidden += beside.filename().string();
        hidden += ".XXXXXX";
        const std::string pattern = (beside.parent_path() / hidden).string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        // mkostemp creates with O_EXCL and mode 0600.
        fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (fd_ >= 0) path_ = name.data();
    }
    ~TemporaryFile() {
        if (fd_ >= 0) close(fd_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int Fd() const { return fd_; }
    // A file still open for writing cannot be executed (ETXTBSY): closed before the start.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }
    bool Valid() const { return fd_ >= 0; }
    // Renames the file over `target`; it is then no longer ours to remove.
    bool RenameTo(const fs::path& target) {
        if (std::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

  private:
    int fd_ = -1;
    std::string path_;
};

// Passes progress on at most every 50 ms (20 a second), and always the end of the transfer.
class ProgressThrottle {
  public:
    explicit ProgressThrottle(UpdateHost& host) : host_(host) {}
    void Report(std::uint64_t current, std::int64_t total) {
        const auto now = std::chrono::steady_clock::now();
        const bool end = total >= 0 && current == static_cast<std::uint64_t>(total);
        if (!end && reported_ && now - last_ < std::chrono::milliseconds(50)) return;
        Send(current, total, now);
    }
    // The final figure of a complete transfer of unknown length.
    void Finish(std::uint64_t current, std::int64_t total) {
        if (reported_ && lastCurrent_ == current) return;
        Send(current, total, std::chrono::steady_clock::now());
    }

  private:
    void Send(std::uint64_t current, std::int64_t total,
              std::chrono::steady_clock::time_point now) {
        host_.DownloadProgress(current, total);
        reported_ = true;
        last_ = now;
        lastCurrent_ = current;
    }

    UpdateHost& host_;
    bool reported_ = false;
    std::chrono::steady_clock::time_point last_;
    std::uint64_t lastCurrent_ = 0;
};

}  // namespace

std::string ProductPageAddress(const char* environmentValue) {
    std::string page = environmentValue && *environmentValue ? std::string(environmentValue)
                                                             : std::string(kProductPage);
    if (page.back() != '/') page.push_back('/');
    return page;
}

std::string ProductPageAddress() { return ProductPageAddress(std::getenv(kProductPageVariable)); }

std::string PlatformPackageName(std::string_view packageName) {
    std::string name(packageName);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + ".run";
}

UpdatePaths MakeUpdatePaths(const std::string& productPage, const fs::path& programFolder) {
    UpdatePaths paths;
    std::string packagePath(kUpdatePackagePath);
    packagePath =
        packagePath.substr(0, packagePath.rfind('/') + 1) + PlatformPackageName(kUpdatePackageName);
    paths.remotePackage = productPage + packagePath;
    paths.updatePage = productPage + std::string(kUpdateFolderPath);
    paths.versionAddress = paths.updatePage + "version.txt";
    paths.sumAddress = paths.remotePackage + ".sha256";
    paths.localPackage = programFolder / PlatformPackageName(kUpdatePackageName);
    return paths;
}

bool ShouldOfferUpdate(float latest, float current) {
    const float difference = latest - current;
    return difference > 0.001f;
}

std::optional<float> ParseVersionText(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.size() > 32) return std::nullopt;
    const std::size_t dot = text.find('.');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (!digit && i != dot) return std::nullopt;
    }
    if (dot == 0 || dot == text.size() - 1) return std::nullopt;
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::string> ParseSha256Text(std::string_view text) {
    text = Trim(text);
    std::size_t length = 0;
    while (length < text.size() && !IsBlank(text[length])) ++length;
    if (length != 64) return std::nullopt;
    std::string sum;
    for (char c : text.substr(0, length)) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
        sum.push_back(c);
    }
    return sum;
}

// --- the download thread ----------------------------------------------------------------

OnlineUpdate::~OnlineUpdate() {
    Cancel();
    Wait();
}

void OnlineUpdate::Prepare(UpdatePaths paths) {
    if (!Running()) paths_ = std::move(paths);
}

bool OnlineUpdate::Start() {
    if (Running()) return false;
    Wait();
    cancel_ = false;
    running_ = true;
    thread_ = std::thread([this] { Work(); });
    return true;
}

void OnlineUpdate::Cancel() {
    {
        std::lock_guard<std::mutex> lock(sleepMutex_);
        cancel_ = true;
    }
    sleepWake_.notify_all();
}

void OnlineUpdate::Wait() {
    if (thread_.joinable()) thread_.join();
}

bool OnlineUpdate::SleepCancelled(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(sleepMutex_);
    return sleepWake_.wait_for(lock, time, [this] { return cancel_.load(); });
}

void OnlineUpdate::Work() {
    const bool started = Steps();
    const bool cancelled = cancel_.load();
    running_ = false;
    if (cancelled && !started) return;
    if (started) {
        host_.PackageStarted();
    } else {
        host_.DownloadFailed();
    }
}

bool OnlineUpdate::Steps() {
    const fs::path& package = paths_.localPackage;
    // Running copies first: a running installer would go on with the old package.
    EndProcesses(FindProcessesRunning(package));
    if (SleepCancelled(std::chrono::milliseconds(200))) return false;

    // The published sum first: without one, nothing is worth downloading.
    std::string sumText;
    DownloadLimits small = limits_;
    small.maxBytes = 4096;
    if (!DownloadToString(paths_.sumAddress, sumText, small, cancel_).ok) return false;
    const std::optional<std::string> sum = ParseSha256Text(sumText);
    if (!sum) return false;

    TemporaryFile temporary(package);
    if (!temporary.Valid()) return false;
    ProgressThrottle progress(host_);
    const DownloadResult got = DownloadToFile(
        paths_.remotePackage, temporary.Fd(), limits_, cancel_,
        [&](std::uint64_t current, std::int64_t total) { progress.Report(current, total); });
    if (!got.ok) return false;
    progress.Finish(got.bytes, static_cast<std::int64_t>(got.bytes));
    if (fsync(temporary.Fd()) != 0) return false;
    if (Sha256OfFile(temporary.Fd()) != sum) return false;
    if (fchmod(temporary.Fd(), 0700) != 0 || !temporary.Close()) return false;
    if (cancel_.load() || !temporary.RenameTo(package)) return false;
    if (cancel_.load()) return false;
    return StartDetached({package.string()});
}

// --- the version check -------------------------------------------------------------------

VersionCheck::~VersionCheck() {
    Cancel();
    Wait();
}

bool VersionCheck::Start(std::string address, std::function<void(std::optional<float>)> done) {
    if (Running()) return false;
    Wait();
    cancel_ = false;
    running_ = true;
    thread_ = std::thread([this, address = std::move(address), done = std::move(done)] {
        std::string text;
        DownloadLimits limits;
        limits.maxBytes = 1024;
        const DownloadResult got = DownloadToString(address, text, limits, cancel_);
        const std::optional<float> latest =
            got.ok ? ParseVersionText(text) : std::optional<float>();
        running_ = false;
        if (!cancel_.load()) done(latest);
    });
    return true;
}

void VersionCheck::Cancel() { cancel_ = true; }

void VersionCheck::Wait() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace ozm
