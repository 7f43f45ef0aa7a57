#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/Download.h"
#include "platform/FileHash.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

const std::string kPackage = "ozmware/update/qv/setupQV.run";

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.Running()) << "python3 server did not start"; }

    struct Outcome {
        DownloadResult result;
        std::string body;
        std::vector<std::pair<std::uint64_t, std::int64_t>> reports;
    };

    Outcome Get(const std::string& caseName, const DownloadLimits& limits = {}) {
        Outcome out;
        const fs::path file = dir_ / ("body-" + caseName);
        const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        EXPECT_GE(fd, 0);
        std::atomic<bool> cancel{false};
        out.result = DownloadToFile(server_.Page(caseName) + kPackage, fd, limits, cancel,
                                    [&](std::uint64_t current, std::int64_t total) {
                                        out.reports.emplace_back(current, total);
                                    });
        close(fd);
        const std::vector<std::uint8_t> bytes = test::ReadAll(file);
        out.body.assign(bytes.begin(), bytes.end());
        return out;
    }

    test::ScratchDir dir_;
    test::LoopbackServer server_{OZM_TEST_TOOLS "/update_server.py",
                                 (dir_.Path() / "marker").string()};
};

TEST(UrlRefusal, PlainHttpOnlyToThisMachineAndOnlyWebAddresses) {
    for (const char* allowed :
         {"https://www.ozmware.example/qv/", "HTTPS://host.example:8443/a?b=c",
          "http://127.0.0.1:8080/x", "http://127.1.2.3/x", "http://localhost/x",
          "http://LOCALHOST:81/x", "http://[::1]:8080/x"})
        EXPECT_EQ(UrlRefusal(allowed), std::nullopt) << allowed;
    for (const char* refused :
         {"http://www.ozmware.example/qv/", "http://10.0.0.1/x", "http://128.0.0.1/x",
          "http://127.0.0.1.example.com/x", "http://[::2]/x", "ftp://127.0.0.1/x",
          "file:///etc/passwd", "no address at all", ""})
        EXPECT_NE(UrlRefusal(refused), std::nullopt) << refused;
}

TEST(Download, PlainHttpToAnotherHostIsRefusedBeforeConnecting) {
    // 192.0.2.1 is a documentation address: were a connection tried, it would time out
    // rather than be refused with this reason.
    std::string text = "untouched";
    std::atomic<bool> cancel{false};
    const DownloadResult result =
        DownloadToString("http://192.0.2.1/ozmware/update/qv/version.txt", text, {}, cancel);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "plain HTTP is refused except to this machine");
    EXPECT_EQ(result.httpStatus, 0);
    EXPECT_TRUE(text.empty());
}

TEST_F(DownloadTest, CompleteBodyWithRisingProgressThatEndsAtTheTotal) {
    for (const char* caseName : {"good", "redirect5", "nolengthfull"}) {
        SCOPED_TRACE(caseName);
        const Outcome got = Get(caseName);
        ASSERT_TRUE(got.result.ok) << got.result.reason;
        EXPECT_EQ(got.result.httpStatus, 200);
        EXPECT_EQ(got.result.bytes, got.body.size());
        EXPECT_GT(got.body.size(), 300000u);
        EXPECT_EQ(got.body.rfind("#!/bin/sh\n", 0), 0u);
        ASSERT_GE(got.reports.size(), 2u);
        for (std::size_t i = 1; i < got.reports.size(); ++i)
            EXPECT_GT(got.reports[i].first, got.reports[i - 1].first);
        EXPECT_EQ(got.reports.back().first, got.body.size());
        const std::int64_t expectedTotal = std::string(caseName) == "nolengthfull"
                                               ? -1
                                               : static_cast<std::int64_t>(got.body.size());
        for (const auto& report : got.reports) EXPECT_EQ(report.second, expectedTotal);
    }
    // The published sum is of the same bytes.
    std::string sumLine;
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(
        DownloadToString(server_.Page("good") + kPackage + ".sha256", sumLine, {}, cancel).ok);
    EXPECT_EQ(sumLine.substr(0, 64), Sha256Hex(Get("good").body));
}

TEST_F(DownloadTest, EveryFaultyAnswerFailsWithItsReason) {
    struct Case {
        const char* name;
        const char* reason;
    };
    for (const Case& c :
         {Case{"notfound", "HTTP status 404"}, Case{"short", "body shorter than announced"},
          Case{"redirect6", "too many redirects"},
          Case{"redirectaway", "redirect refused: plain HTTP is refused except to this machine"},
          Case{"big", nullptr}}) {
        SCOPED_TRACE(c.name);
        const Outcome got = Get(c.name);
        EXPECT_FALSE(got.result.ok);
        EXPECT_FALSE(got.result.cancelled);
        if (c.reason) {
            EXPECT_EQ(got.result.reason, c.reason);
        }
        if (std::string(c.name) != "short") {
            EXPECT_TRUE(got.body.empty()) << got.body.size();
        }
    }
    // The size cap holds for a body that announces no length, too.
    DownloadLimits small;
    small.maxBytes = 100000;
    const Outcome capped = Get("nolengthfull", small);
    EXPECT_FALSE(capped.result.ok);
    EXPECT_LE(capped.body.size(), small.maxBytes);
    // A server that stops sending is given up after the low-speed time.
    DownloadLimits impatient;
    impatient.lowSpeedSeconds = 1;
    impatient.lowSpeedBytesPerSecond = 1000;
    const Outcome stalled = Get("stall", impatient);
    EXPECT_FALSE(stalled.result.ok);
    EXPECT_EQ(stalled.result.reason, "timed out");
}

TEST_F(DownloadTest, CancelEndsARunningTransferPromptly) {
    const fs::path file = dir_ / "slow";
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> seen{0};
    DownloadResult result;
    std::thread worker([&] {
        result = DownloadToFile(server_.Page("slow") + kPackage, fd, {}, cancel,
                                [&](std::uint64_t current, std::int64_t) { seen = current; });
    });
    while (seen.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    cancel = true;
    worker.join();
    close(fd);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
}

}  // namespace
}  // namespace ozm
