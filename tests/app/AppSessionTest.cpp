#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/session/AppSession.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

std::string Settings(const fs::path& folder) {
    const auto bytes = test::ReadAll(folder / "defualt.ini");
    return std::string(bytes.begin(), bytes.end());
}

class FixedChooser : public FolderChooserRole {
  public:
    explicit FixedChooser(std::string answer) : answer_(std::move(answer)) {}
    std::string ChooseFolder(const std::string&, const std::string&) override { return answer_; }

  private:
    std::string answer_;
};

// A main window that records what the session passes on to it.
class RecordingWindow : public MainWindowPort {
  public:
    ConversionOptions Options() override { return {}; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void StepProgress() override {}
    int EntryCount() override { return 0; }
    int CurrentIndex() override { return -1; }
    bool IsSelected(int) override { return false; }
    std::string EntryText(int) override { return {}; }
    void FocusSourceList(bool) override {}
    void RefreshTargetList() override {}
    void ShowConversionPage() override {}
    void SetHint(const std::string&) override {}
    void ShowProgressBar(bool) override {}
    void ResetProgress() override {}
    void SetStopFace(bool) override {}
    void ChooseSourceFolder() override {}
    void ChooseTargetFolder() override {}
    void AddRecentFolder(const std::string&) override {}
    void StoreLastSourceFolder(const std::string&) override {}
    void Focus(FocusTarget) override {}
    void ModelChangedElsewhere() override { ++modelChanges; }

    std::vector<std::string> messages;
    int modelChanges = 0;
};

TEST(AppSession, WritesOfTheWindowsReachTheFileAtOnce) {
    test::ScratchDir dir;
    const fs::path favourite = dir.Path() / "fav";
    fs::create_directories(favourite);
    AppSession session(dir.Path());
    session.LoadSettings();

    session.FormatBoxClick(FormatBoxFor(FormatCode::Png), true);
    EXPECT_NE(Settings(dir.Path()).find("CbPNG=1"), std::string::npos);
    session.StoreLastSourceFolder("/pictures/in/");
    EXPECT_NE(Settings(dir.Path()).find("OZMMyHisPath=/pictures/in/"), std::string::npos);
    EXPECT_EQ(session.Model().lastSourceFolder, "/pictures/in/");

    FixedChooser picks(favourite.string());
    EXPECT_EQ(session.ChooseFavouriteFolder(picks), favourite.string());
    EXPECT_NE(Settings(dir.Path()).find("OZMMyFavPath=" + favourite.string()), std::string::npos);
    FixedChooser cancels("");
    EXPECT_EQ(session.ChooseFavouriteFolder(cancels), favourite.string());  // kept

    // A main window that never came on screen stores only the quick menu's share.
    session.Model().source.editText = "/elsewhere/";
    ASSERT_TRUE(session.SaveSettings(false).Ok());
    EXPECT_EQ(Settings(dir.Path()).find("SourcePath="), std::string::npos);
    ASSERT_TRUE(session.SaveSettings(true).Ok());
    EXPECT_NE(Settings(dir.Path()).find("SourcePath=/elsewhere/"), std::string::npos);

    // A fresh session reads it all back.
    AppSession next(dir.Path());
    next.LoadSettings();
    EXPECT_TRUE(next.Model().FormatBoxChecked(FormatBoxFor(FormatCode::Png)));
    EXPECT_EQ(next.Model().favouriteFolder, favourite.string());
    EXPECT_EQ(next.Model().source.editText, "/elsewhere/");
}

TEST(AppSession, TheAttachedWindowHearsOfFailuresAndOutsideChanges) {
    test::ScratchDir dir;
    test::WriteAll(dir.Path() / "file", {'x'});
    // Under a regular file: every write fails.
    AppSession session(dir.Path() / "file" / "sub");
    session.LoadSettings();
    const fs::path pictures = dir.Path() / "pictures";
    fs::create_directories(pictures);

    session.StoreLastSourceFolder("/a/");  // no window yet: nobody to tell
    {
        RecordingWindow window;
        session.AttachMainWindow(window);
        EXPECT_EQ(session.Run().State(), RunState::Idle);
        session.FormatBoxClick(FormatBoxFor(FormatCode::Gif), true);
        session.StoreLastSourceFolder("/b/");
        ASSERT_EQ(window.messages.size(), 2u);
        EXPECT_EQ(window.messages[0], window.messages[1]);
        EXPECT_EQ(window.messages[0].rfind("Unable to write to ", 0), 0u);
        EXPECT_TRUE(session.Model().FormatBoxChecked(FormatBoxFor(FormatCode::Gif)));  // taken all the same

        session.SetSourceFolder(pictures.string());
        EXPECT_EQ(window.modelChanges, 1);
        EXPECT_EQ(window.messages.size(), 3u);  // the folder could not be stored either
        EXPECT_EQ(session.Model().source.currentFolder, pictures.string() + "/");
        session.DetachMainWindow();
    }
    session.StoreLastSourceFolder("/c/");  // the window has gone: nothing reaches it
    session.SetSourceFolder(pictures.string());
}

}  // namespace
}  // namespace ozm
