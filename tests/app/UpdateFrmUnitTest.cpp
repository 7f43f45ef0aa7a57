#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "app/maintenance/UpdateFrmUnit.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

TEST(UpdateOffer, NewerOnlyBeyondTheToleranceInSinglePrecision) {
    EXPECT_FALSE(ShouldOfferUpdate(2.3f));
    EXPECT_FALSE(ShouldOfferUpdate(2.3005f));
    // In single precision 2.301 is 2.30100012 and 2.3 is 2.29999995: just beyond the
    // tolerance (in double precision it would be just within).
    EXPECT_TRUE(ShouldOfferUpdate(2.301f));
    EXPECT_TRUE(ShouldOfferUpdate(2.31f));
    EXPECT_TRUE(ShouldOfferUpdate(3.0f));
    EXPECT_FALSE(ShouldOfferUpdate(2.2f));

    EXPECT_EQ(ParseVersionText("2.31\n"), 2.31f);
    EXPECT_EQ(ParseVersionText("\xEF\xBB\xBF 2.3005 \r\n"), 2.3005f);
    EXPECT_EQ(ParseVersionText("3"), 3.0f);
    for (const char* bad : {"", " \n", "2.3a", "2..3", ".5", "2.", "-1", "1e5", "2.31 beta", "v2.4",
                            "<html>2.4</html>", "2,4"})
        EXPECT_EQ(ParseVersionText(bad), std::nullopt) << bad;
}

TEST(UpdateOffer, AddressesComeFromTheProductPageOrItsReplacement) {
    EXPECT_EQ(ProductPageAddress(nullptr), "https://www.ozmware.example/qv/");
    EXPECT_EQ(ProductPageAddress(""), "https://www.ozmware.example/qv/");
    EXPECT_EQ(ProductPageAddress("http://127.0.0.1:8000/mirror"), "http://127.0.0.1:8000/mirror/");
    const UpdatePaths paths = MakeUpdatePaths("https://m.example/p/", "/home/u/ozm/");
    EXPECT_EQ(paths.remotePackage, "https://m.example/p/ozmware/update/qv/setupQV.run");
    EXPECT_EQ(paths.sumAddress, "https://m.example/p/ozmware/update/qv/setupQV.run.sha256");
    EXPECT_EQ(paths.updatePage, "https://m.example/p/ozmware/update/qv/");
    EXPECT_EQ(paths.versionAddress, "https://m.example/p/ozmware/update/qv/version.txt");
    EXPECT_EQ(paths.localPackage, fs::path("/home/u/ozm/setupQV.run"));

    const std::string sum(64, 'a');
    EXPECT_EQ(ParseSha256Text(std::string(64, 'A') + "  setupQV.run\n"), sum);
    EXPECT_EQ(ParseSha256Text(sum), sum);
    EXPECT_EQ(ParseSha256Text(std::string(63, 'a')), std::nullopt);
    EXPECT_EQ(ParseSha256Text(std::string(65, 'a')), std::nullopt);
    EXPECT_EQ(ParseSha256Text(std::string(63, 'a') + "g"), std::nullopt);
    EXPECT_EQ(ParseSha256Text("<html>not found</html>"), std::nullopt);
}

class RecordingUpdateHost : public UpdateHost {
  public:
    void DownloadProgress(std::uint64_t current, std::int64_t total) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports.emplace_back(current, total);
        times.push_back(std::chrono::steady_clock::now());
    }
    void DownloadFailed() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++failed;
    }
    void PackageStarted() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++started;
    }

    std::mutex mutex_;
    std::vector<std::pair<std::uint64_t, std::int64_t>> reports;
    std::vector<std::chrono::steady_clock::time_point> times;
    int failed = 0;
    int started = 0;
};

class OnlineUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Running());
        fs::create_directories(program_);
    }

    std::vector<std::string> FolderContents() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(program_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // The package runs detached: its marker line may come a moment after the start.
    // The shell creates the file before it writes the line: wait for the line itself.
    int MarkerLines(bool expectOne) const {
        auto count = [&] {
            std::ifstream in(marker_);
            int lines = 0;
            for (std::string line; std::getline(in, line);) ++lines;
            return lines;
        };
        for (int i = 0; expectOne && i < 2000 && count() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return count();
    }

    test::ScratchDir dir_;
    fs::path program_ = dir_.Path() / "program";
    fs::path marker_ = dir_.Path() / "marker";
    test::LoopbackServer server_{OZM_TEST_TOOLS "/update_server.py", marker_.string()};
};

TEST_F(OnlineUpdateTest, OnlyACompleteVerifiedPackageIsStartedAndOnlyOnce) {
    for (const char* caseName : {"notfound", "short", "wrongsum", "nosum", "redirect6", "big",
                                 "nolength", "redirectaway", "slow"}) {
        SCOPED_TRACE(caseName);
        RecordingUpdateHost host;
        OnlineUpdate update(host);
        // A body slower than 100 kB/s for a second is given up (the slow case sends 40 kB/s).
        DownloadLimits impatient;
        impatient.lowSpeedBytesPerSecond = 100000;
        impatient.lowSpeedSeconds = 1;
        update.SetLimits(impatient);
        update.Prepare(MakeUpdatePaths(server_.Page(caseName), program_));
        ASSERT_TRUE(update.Start());
        update.Wait();
        EXPECT_EQ(host.failed, 1);
        EXPECT_EQ(host.started, 0);
        EXPECT_TRUE(FolderContents().empty()) << FolderContents().front();
    }
    EXPECT_EQ(MarkerLines(false), 0);

    // A package left by an earlier update is replaced whole.
    std::ofstream(program_ / "setupQV.run") << "#!/bin/sh\necho old >> /dev/null\n";
    RecordingUpdateHost host;
    OnlineUpdate update(host);
    update.Prepare(MakeUpdatePaths(server_.Page("good"), program_));
    ASSERT_TRUE(update.Start());
    EXPECT_FALSE(update.Start()) << "a second download while one runs";
    update.Wait();
    EXPECT_EQ(host.failed, 0);
    EXPECT_EQ(host.started, 1);
    EXPECT_EQ(MarkerLines(true), 1);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"setupQV.run"});
    struct stat info {};
    ASSERT_EQ(stat((program_ / "setupQV.run").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_GT(info.st_size, 300000);

    // Progress rose to the total, no faster than 20 reports a second.
    ASSERT_FALSE(host.reports.empty());
    for (std::size_t i = 1; i < host.reports.size(); ++i)
        EXPECT_GT(host.reports[i].first, host.reports[i - 1].first);
    // One report per 50 ms at most, and the last; one more for the moments of recording.
    const auto span = host.times.back() - host.times.front();
    EXPECT_LE(host.reports.size(),
              static_cast<std::size_t>(span / std::chrono::milliseconds(50)) + 3);
    EXPECT_EQ(host.reports.back().first, static_cast<std::uint64_t>(info.st_size));
    EXPECT_EQ(host.reports.back().second, info.st_size);
}

TEST_F(OnlineUpdateTest, ARunningCopyOfThePackageIsEndedFirst) {
    const fs::path package = program_ / "setupQV.run";
    const fs::path other = dir_.Path() / "other" / "setupQV.run";
    fs::create_directories(other.parent_path());
    std::vector<pid_t> pids;
    for (const fs::path& path : {package, other}) {
        fs::copy_file("/bin/sleep", path);
        const pid_t pid = fork();
        if (pid == 0) {
            execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        pids.push_back(pid);
    }
    // Both have exec'd once /proc shows their program files.
    for (int i = 0; i < 500; ++i) {
        std::error_code a, b;
        if (fs::read_symlink("/proc/" + std::to_string(pids[0]) + "/exe", a) == package &&
            fs::read_symlink("/proc/" + std::to_string(pids[1]) + "/exe", b) == other)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    RecordingUpdateHost host;
    OnlineUpdate update(host);
    update.Prepare(MakeUpdatePaths(server_.Page("good"), program_));
    update.Start();
    update.Wait();
    EXPECT_EQ(host.started, 1);
    int status = 0;
    ASSERT_EQ(waitpid(pids[0], &status, WNOHANG), pids[0]) << "the running copy was not ended";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(waitpid(pids[1], &status, WNOHANG), 0) << "a copy in another folder was ended";
    kill(pids[1], SIGKILL);
    waitpid(pids[1], &status, 0);
    EXPECT_EQ(MarkerLines(true), 1);
}

TEST_F(OnlineUpdateTest, QuittingDuringTheTransferJoinsAndLeavesNothing) {
    RecordingUpdateHost host;
    {
        OnlineUpdate update(host);
        update.Prepare(MakeUpdatePaths(server_.Page("slow"), program_));
        update.Start();
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(host.mutex_);
                if (!host.reports.empty()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(FolderContents().size(), 1u) << "the transfer writes a temporary file";
        EXPECT_TRUE(update.Running());
    }
    EXPECT_FALSE(host.reports.empty());
    EXPECT_EQ(host.failed, 0) << "no message while quitting";
    EXPECT_EQ(host.started, 0);
    EXPECT_TRUE(FolderContents().empty());
    EXPECT_EQ(MarkerLines(false), 0);
}

TEST_F(OnlineUpdateTest, TheVersionCheckReadsTheNumberOffTheWindowThread) {
    auto check = [&](const std::string& caseName) {
        VersionCheck versions;
        std::promise<std::optional<float>> result;
        versions.Start(MakeUpdatePaths(server_.Page(caseName), program_).versionAddress,
                       [&](std::optional<float> latest) { result.set_value(latest); });
        return result.get_future().get();
    };
    EXPECT_EQ(check("ver-2.31"), 2.31f);
    EXPECT_EQ(check("ver-2.3005"), 2.3005f);
    EXPECT_EQ(check("notfound"), std::nullopt);
    EXPECT_EQ(check("ver-x2"), std::nullopt);

    // Cancelled: the answer never comes.
    bool answered = false;
    {
        VersionCheck versions;
        versions.Start(MakeUpdatePaths(server_.Page("stall"), program_).remotePackage,
                       [&](std::optional<float>) { answered = true; });
        versions.Cancel();
    }
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace ozm
