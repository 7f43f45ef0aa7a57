// The batch run on a real worker thread, talking to a window thread through the bridge: the
// window side is this test's thread, which runs the bridge's calls as an event loop would.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "app/convert/ConversionRun.h"
#include "app/convert/OptionsSnapshot.h"
#include "app/convert/UiBridge.h"
#include "core/formats/ImgConvertUnit.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

struct WindowHost : ConversionHost {
    OptionsSnapshot options;
    std::vector<std::string> entries;
    std::thread::id uiThread = std::this_thread::get_id();
    std::vector<std::string> messages, hints, written;
    bool stopFace = false;
    int offThread = 0;  // calls that reached the window on another thread
    std::function<void()> onWritten;
    std::function<void(const std::string&)> onMessage;

    void Check() {
        if (std::this_thread::get_id() != uiThread) ++offThread;
    }
    ConversionOptions Options() override { return options.Get(); }
    int EntryCount() override { return Check(), static_cast<int>(entries.size()); }
    int CurrentIndex() override { return Check(), entries.empty() ? -1 : 0; }
    bool IsSelected(int i) override { return Check(), i < static_cast<int>(entries.size()); }
    std::string EntryText(int i) override { return Check(), entries[static_cast<std::size_t>(i)]; }
    void ShowMessage(const std::string& text) override {
        Check();
        messages.push_back(text);
        if (onMessage) onMessage(text);
    }
    void FileWritten(const std::string& path) override {
        Check();
        written.push_back(fs::path(path).filename());
        if (onWritten) onWritten();
    }
    void SetHint(const std::string& text) override { Check(), hints.push_back(text); }
    void SetStopFace(bool s) override { Check(), stopFace = s; }
    void StepProgress() override { Check(); }
    void FocusSourceList(bool) override { Check(); }
    void RefreshTargetList() override { Check(); }
    void ShowConversionPage() override { Check(); }
    void ShowProgressBar(bool) override { Check(); }
    void ResetProgress() override { Check(); }
    void ChooseSourceFolder() override { Check(); }
    void ChooseTargetFolder() override { Check(); }
    void AddRecentFolder(const std::string&) override { Check(); }
    void StoreLastSourceFolder(const std::string&) override { Check(); }
};

struct ThreadFixture : ::testing::Test {
    test::ScratchDir dir;
    std::string src, dst;
    WindowHost host;
    UiBridge bridge;
    std::unique_ptr<ConversionRun> run = std::make_unique<ConversionRun>(host, bridge);
    int finished = 0;

    void SetUp() override {
        src = (dir / "src").string() + "/";
        dst = (dir / "dst").string() + "/";
        fs::create_directories(src);
        fs::create_directories(dst);
        host.options.Update([&](ConversionOptions& o) {
            o.sourceFolder = src;
            o.targetFolder = dst;
            o.formats.Clear();
            o.formats.Tick(FormatCode::Jpg);
            o.formats.Tick(FormatCode::Png);
        });
        run->SetFinishedHandler([this] { ++finished; });
    }
    void AddSources(int n, const std::string& data = "png/rgb8.png") {
        for (int i = 0; i < n; ++i) {
            const std::string name = "f" + std::to_string(host.entries.size()) + ".png";
            fs::copy_file(test::DataFile(data), src + name);
            host.entries.push_back(name);
        }
    }
    // The window's event loop until the run is idle again.
    void LoopUntilIdle() {
        while (run->State() != RunState::Idle) {
            bridge.RunPending();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        run->Wait();
    }
    std::vector<std::string> Leftovers() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dst)) {
            const std::string n = e.path().filename();
            if (n.rfind(".ozm-", 0) == 0) names.push_back(n);
        }
        return names;
    }
};

TEST_F(ThreadFixture, ABatchRunsOnTheWorkerAndTalksToTheWindowOnItsThread) {
    AddSources(3);
    AddSources(1, "jpeg/colour_444.jpg");
    fs::rename(src + "f3.png", src + "bad.png");  // JPEG bytes under a PNG name
    host.entries[3] = "bad.png";
    // The modal message is answered by the window while the worker waits for it.
    std::size_t writtenWhenAsked = 0;
    host.onMessage = [&](const std::string&) { writtenWhenAsked = host.written.size(); };
    run->BtnImgCovertClick();
    EXPECT_NE(run->State(), RunState::Idle);
    LoopUntilIdle();
    EXPECT_EQ(host.written.size(), 6u);
    EXPECT_EQ(host.messages, (std::vector<std::string>{"Not support image type."}));
    EXPECT_EQ(writtenWhenAsked, 6u);
    EXPECT_EQ(host.hints.back(), "所有转换已完成，请查看“转换后图片列表”（成功 3 个，失败 1 个）");
    EXPECT_EQ(host.offThread, 0);
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(host.stopFace);
}

TEST_F(ThreadFixture, StopAndClicksAtAnyMomentKeepTheStateWhole) {
    AddSources(12);
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        run->BtnImgCovertClick();
        // Clicks land at random moments: during the run, while it stops, at its very end.
        for (int i = 0; i < 400 && run->State() != RunState::Idle; ++i) {
            bridge.RunPending();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            if (random() % 4 == 0) run->BtnImgCovertClick();
            const RunStatus s = run->Status();
            switch (s.state) {
                case RunState::Idle:
                    EXPECT_TRUE(!s.stopFace && s.buttonTag == 0);
                    break;
                case RunState::Running:
                    EXPECT_TRUE(!s.stopFace && s.buttonTag == 1);  // a click can stop it
                    break;
                case RunState::Stopping:
                    EXPECT_TRUE(s.stopFace && s.buttonTag == 0);
                    break;
            }
        }
        LoopUntilIdle();
        EXPECT_FALSE(host.stopFace);
        EXPECT_EQ(run->Status().buttonTag, 0);
    }
    EXPECT_EQ(host.offThread, 0);
    EXPECT_TRUE(Leftovers().empty());
    // Every stop left whole files only: each written name reads back.
    for (const auto& e : fs::directory_iterator(dst)) {
        Bitmap back;
        EXPECT_TRUE(ReadImageFile(e.path(), back)) << e.path();
    }
}

TEST_F(ThreadFixture, DestroyingTheRunMidFileStopsAndJoins) {
    AddSources(20);
    // The worker is waiting for a modal message when the window goes away.
    host.entries.insert(host.entries.begin() + 2, "missing-and-unreadable.gif");
    fs::copy_file(test::DataFile("png/rgb8.png"), src + "missing-and-unreadable.gif");
    run->BtnImgCovertClick();
    while (host.written.size() < 3) bridge.RunPending();
    run.reset();  // must return: the bridge is closed, the waiting worker goes on and stops
    EXPECT_LT(host.written.size(), 42u);
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_TRUE(bridge.Closed());
}

// The list read from a shared view: no round trip per entry, the same files converted, and a
// list that shrinks mid-run ends the run at its new end.
TEST_F(ThreadFixture, ASharedListIsReadOnTheWorkerAndMayShrinkMidRun) {
    struct SharedHost : WindowHost {
        SharedListView view;
        int listCalls = 0;
        int EntryCount() override { return ++listCalls, WindowHost::EntryCount(); }
        int CurrentIndex() override { return ++listCalls, WindowHost::CurrentIndex(); }
        bool IsSelected(int i) override { return ++listCalls, WindowHost::IsSelected(i); }
        std::string EntryText(int i) override { return ++listCalls, WindowHost::EntryText(i); }
        const SharedListView* SharedSourceList() override { return &view; }
    } shared;
    shared.options.Set(host.options.Get());
    UiBridge sharedBridge;
    auto sharedRun = std::make_unique<ConversionRun>(shared, sharedBridge);
    AddSources(6);
    shared.entries = host.entries;
    // The third entry is not selected; the view, not the host's list, says so.
    shared.view.Set(shared.entries, {true, true, false, true, true, true}, 0);
    auto loop = [&] {
        while (sharedRun->State() != RunState::Idle) {
            sharedBridge.RunPending();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        sharedRun->Wait();
    };
    sharedRun->BtnImgCovertClick();
    loop();
    EXPECT_EQ(shared.listCalls, 0);
    EXPECT_EQ(shared.written.size(), 10u);
    EXPECT_EQ(std::count(shared.written.begin(), shared.written.end(), "f2.png"), 0);
    EXPECT_EQ(shared.offThread, 0);

    // While the worker waits for the message about the second file, the list is refreshed to
    // two entries: the run reads past neither. (The wait makes the moment exact.)
    fs::remove_all(dst);
    fs::create_directories(dst);
    shared.written.clear();
    test::WriteAll(src + "f1.png", {1, 2, 3});
    shared.view.Set(shared.entries, std::vector<bool>(6, true), 0);
    shared.onMessage = [&](const std::string&) {
        shared.view.Set({shared.entries[0], shared.entries[1]}, {true, true}, 0);
    };
    sharedRun->BtnImgCovertClick();
    loop();
    EXPECT_EQ(shared.written, (std::vector<std::string>{"f0.jpg", "f0.png"}));
    EXPECT_EQ(shared.messages, (std::vector<std::string>{"Not support image type."}));
    EXPECT_EQ(shared.listCalls, 0);
}

}  // namespace
}  // namespace ozm
