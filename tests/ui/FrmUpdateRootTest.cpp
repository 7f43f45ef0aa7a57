// The update window and the help page's check button on the offscreen platform, against the
// loopback web server, with the window's timers driven by the test's own clock.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/ui/FrmUpdateRoot.h"
#include "app/ui/MainForm.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"
#include "ui/SessionForm.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

// Time moves only when the test says so.
class ManualClock : public UpdateClock {
  public:
    void Start(int milliseconds, std::function<void()> fire) override {
        pending_.push_back({now_ + milliseconds, std::move(fire)});
    }
    void StopAll() override { pending_.clear(); }
    void Advance(int milliseconds) {
        const long until = now_ + milliseconds;
        for (;;) {
            auto next = pending_.end();
            for (auto it = pending_.begin(); it != pending_.end(); ++it)
                if (it->due <= until && (next == pending_.end() || it->due < next->due)) next = it;
            if (next == pending_.end()) break;
            now_ = next->due;
            std::function<void()> fire = std::move(next->fire);
            pending_.erase(next);
            fire();
        }
        now_ = until;
    }
    std::size_t Pending() const { return pending_.size(); }

  private:
    struct Call {
        long due;
        std::function<void()> fire;
    };
    long now_ = 0;
    std::vector<Call> pending_;
};

template <typename Predicate>
bool PumpUntil(Predicate done, int milliseconds = 15000) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class UpdateWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Running());
        fs::create_directories(program_);
        offer_ = new TUpdateOffer(&mainWindow_, program_);
        offer_->ask = [this](const QString& question) {
            questions_.push_back(question.toStdString());
            return answer_;
        };
        offer_->showMessage = [this](const QString& text) {
            messages_.push_back(text.toStdString());
        };
        offer_->makeClock = [this] {
            auto clock = std::make_unique<ManualClock>();
            clock_ = clock.get();
            return clock;
        };
    }
    void TearDown() override { unsetenv(kProductPageVariable); }

    void UseServerCase(const std::string& caseName) {
        setenv(kProductPageVariable, server_.Page(caseName).c_str(), 1);
    }
    // The offer, with the failure message of the window recorded as well.
    TFrmUpdateRoot* Offer(float latest) {
        offer_->OfferUpdate(latest);
        if (TFrmUpdateRoot* window = offer_->Window())
            window->SetMessageShower(
                [this](const QString& text) { messages_.push_back(text.toStdString()); });
        return offer_->Window();
    }
    std::vector<std::string> FolderContents() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(program_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    test::ScratchDir dir_;
    fs::path program_ = dir_.Path() / "program";
    fs::path marker_ = dir_.Path() / "marker";
    test::LoopbackServer server_{OZM_TEST_TOOLS "/update_server.py", marker_.string()};
    QWidget mainWindow_;
    TUpdateOffer* offer_ = nullptr;
    ManualClock* clock_ = nullptr;
    bool answer_ = true;
    std::vector<std::string> questions_;
    std::vector<std::string> messages_;
};

TEST_F(UpdateWindowTest, OfferTextsAndTheTimersInTheirOrder) {
    UseServerCase("good");
    EXPECT_EQ(Offer(2.3005f), nullptr);
    EXPECT_EQ(messages_, std::vector<std::string>{"当前已是最新版本"});
    EXPECT_TRUE(questions_.empty());
    answer_ = false;
    EXPECT_EQ(Offer(2.31f), nullptr) << "no window after No";
    EXPECT_EQ(questions_, std::vector<std::string>{"发现更新的版本，是否下载并安装？"});

    answer_ = true;
    TFrmUpdateRoot* window = Offer(2.31f);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "OZM软件在线升级");
    EXPECT_EQ(window->findChild<QPushButton*>("BtnClose")->text().toStdString(), "关闭");
    EXPECT_TRUE(window->HintText().isEmpty());
    // 250 ms after showing: the hint; 1000 ms after that: the download, not a moment sooner.
    clock_->Advance(249);
    EXPECT_TRUE(window->HintText().isEmpty());
    clock_->Advance(1);
    EXPECT_EQ(window->HintText().toStdString(), "软件正在更新中，请稍候...");
    EXPECT_EQ(clock_->Pending(), 1u) << "the 250 ms timer ticks once";
    clock_->Advance(999);
    EXPECT_FALSE(window->Update().Running());
    EXPECT_TRUE(FolderContents().empty());
    clock_->Advance(1);
    EXPECT_TRUE(window->Update().Running());
    EXPECT_EQ(window->ProgressMaximum(), 0) << "busy until the length is known";

    // A second offer while it runs only raises the window.
    Offer(2.31f);
    EXPECT_EQ(questions_.size(), 2u);

    ASSERT_TRUE(PumpUntil([&] { return !window->isVisible(); })) << "closed once started";
    const auto size = static_cast<int>(fs::file_size(program_ / "setupQV.run"));
    EXPECT_EQ(window->ProgressMaximum(), size);
    EXPECT_EQ(window->ProgressPosition(), size);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(marker_) && fs::file_size(marker_) > 0; }));
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"setupQV.run"});

    // The kept window is prepared again for the next offer; a failure is shown once and the
    // window stays.
    UseServerCase("wrongsum");
    EXPECT_EQ(Offer(2.4f), window);
    EXPECT_TRUE(window->HintText().isEmpty());
    EXPECT_EQ(window->ProgressPosition(), 0);
    clock_->Advance(1250);
    ASSERT_TRUE(PumpUntil([&] { return !window->Update().Running() && messages_.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(messages_.back(), "下载地址错误，请稍候再更新，或直接到官方主页更新");
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(window->isVisible());
    std::ifstream in(marker_);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_EQ(lines, 1) << "started once only";
}

TEST_F(UpdateWindowTest, EscBeforeTheStartClosesAndStartsNothingAndAnUnknownLengthIsABusyBar) {
    UseServerCase("good");
    TFrmUpdateRoot* window = Offer(2.5f);
    ASSERT_NE(window, nullptr);
    clock_->Advance(250);
    // Esc closes as the close button does.
    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    clock_->Advance(5000);
    EXPECT_FALSE(window->Update().Running());
    EXPECT_TRUE(FolderContents().empty());

    window->DownloadProgress(10, 100);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->ProgressMaximum(), 100);
    EXPECT_EQ(window->ProgressPosition(), 10);
    window->DownloadProgress(20, -1);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->ProgressMaximum(), 0);
}

TEST_F(UpdateWindowTest, ClosingTheWindowKeepsTheDownloadAndQuittingEndsItCleanly) {
    UseServerCase("slow");
    TFrmUpdateRoot* window = Offer(2.5f);
    ASSERT_NE(window, nullptr);
    clock_->Advance(1250);
    ASSERT_TRUE(PumpUntil([&] { return window->ProgressPosition() > 0; }));
    window->findChild<QPushButton*>("BtnClose")->click();
    EXPECT_TRUE(window->Update().Running()) << "the close button does not stop the download";
    EXPECT_EQ(FolderContents().size(), 1u);
    delete offer_;
    delete window;  // as the main window's end does
    EXPECT_TRUE(FolderContents().empty());
    EXPECT_FALSE(fs::exists(marker_));
    EXPECT_TRUE(messages_.empty());
}

TEST(UpdateCheckButton, TheHelpPageAsksTheUpdatePageForTheLatestVersion) {
    test::ScratchDir dir;
    test::LoopbackServer server(OZM_TEST_TOOLS "/update_server.py", (dir / "marker").string());
    ASSERT_TRUE(server.Running());
    setenv(kProductPageVariable, server.Page("ver-2.3").c_str(), 1);
    test::SessionForm form(dir.Path().string() + "/");
    auto* offer = form.findChild<TUpdateOffer*>();
    ASSERT_NE(offer, nullptr);
    std::vector<std::string> messages;
    offer->showMessage = [&](const QString& text) { messages.push_back(text.toStdString()); };
    auto* button = form.findChild<QPushButton*>("BtnCheckUpdate");
    ASSERT_NE(button, nullptr);
    auto* pages = form.findChild<QTabWidget*>("PageControl1");
    EXPECT_EQ(button->parentWidget(), pages->widget(1)) << "on the help page";
    button->click();
    EXPECT_TRUE(PumpUntil([&] { return !messages.empty(); }));
    EXPECT_EQ(messages, std::vector<std::string>{"当前已是最新版本"});

    setenv(kProductPageVariable, server.Page("notfound").c_str(), 1);
    button->click();
    EXPECT_TRUE(PumpUntil([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages.back(), "下载地址错误，请稍候再更新，或直接到官方主页更新");
    unsetenv(kProductPageVariable);
}

}  // namespace
}  // namespace ozm
