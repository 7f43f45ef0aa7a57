#include "app/session/AppSession.h"

#include <cstdlib>

#include "app/shell/FolderShortcuts.h"

namespace ozm {

namespace {

std::string HomeFolderText() {
    const char* home = std::getenv("HOME");
    return home ? std::string(home) + "/" : std::string("/");
}

}  // namespace

AppSession::AppSession(std::filesystem::path programFolder)
    : programFolder_(std::move(programFolder)),
      store_(programFolder_),
      lists_(model_, store_.Profile(), feedback_, HomeFolderText()),
      resize_(model_, store_.Profile(), feedback_),
      rotation_(model_, store_.Profile(), feedback_) {
    store_.Profile().SetWriteFailureHandler(
        [this](const std::string& error) { SettingsWriteFailed(error); });
}

AppSession::~AppSession() {
    // A value still on its way to the settings file may fail and call SettingsWriteFailed,
    // whose members go before the store's.
    store_.Profile().Flush();
    DetachQuickMenu();
    DetachMainWindow();
}

void AppSession::AttachMainWindow(MainWindowPort& window) {
    DetachMainWindow();
    mainWindow_ = &window;
    feedback_.target = &window;
    {
        const std::lock_guard lock(bridgeMutex_);
        runBridge_ = std::make_unique<UiBridge>();
    }
    run_ = std::make_unique<ConversionRun>(window, *runBridge_);
}

void AppSession::DetachMainWindow() {
    run_.reset();
    {
        const std::lock_guard lock(bridgeMutex_);
        runBridge_.reset();
    }
    feedback_.target = nullptr;
    mainWindow_ = nullptr;
}

QuickConversion& AppSession::AttachQuickMenu(QuickMenuHost& menu) {
    DetachQuickMenu();
    quick_ = std::make_unique<QuickConversion>(menu, model_, store_.Profile(), resize_, rotation_);
    return *quick_;
}

void AppSession::DetachQuickMenu() { quick_.reset(); }

void AppSession::SettingsWriteFailed(const std::string& error) {
    if (settingsFailureSaid_.exchange(true)) return;
    const std::lock_guard lock(bridgeMutex_);
    // On the window's thread at once, from a worker on its next turn; nowhere without a window
    // (the closing save still reports to stderr).
    if (runBridge_)
        runBridge_->Post(
            [this, text = "settings not saved: " + error] { feedback_.SetHint(text); });
}

void AppSession::LoadSettings() { store_.LoadSettings(model_, feedback_); }

WriteResult AppSession::SaveSettings(bool mainWindowCameOnScreen) {
    return mainWindowCameOnScreen ? store_.SaveSettings(model_) : store_.SaveQuickSettings(model_);
}

void AppSession::FormatBoxClick(FormatBox box, bool checked) {
    store_.FormatBoxClick(model_, box, checked, feedback_);
}

void AppSession::StoreLastSourceFolder(const std::string& folder) {
    model_.lastSourceFolder = folder;
    const WriteResult result = store_.WriteString(keys::OZMMyHisPath, folder);
    if (!result.Ok()) feedback_.ShowMessage(result.error);
}

std::string AppSession::ChooseFavouriteFolder(FolderChooserRole& chooser) {
    const std::string before = model_.favouriteFolder;
    ozm::ChooseFavouriteFolder(chooser, model_.favouriteFolder);
    if (model_.favouriteFolder != before) {
        const WriteResult result = store_.WriteString(keys::OZMMyFavPath, model_.favouriteFolder);
        if (!result.Ok()) feedback_.ShowMessage(result.error);
    }
    return model_.favouriteFolder;
}

void AppSession::SetSourceFolder(const std::string& folder) {
    lists_.SetSourceFolder(folder);
    if (mainWindow_) mainWindow_->ModelChangedElsewhere();
}

// --- the relay ---------------------------------------------------------------------------

void AppSession::FeedbackRelay::ShowMessage(const std::string& text) {
    if (target) target->ShowMessage(text);
}
void AppSession::FeedbackRelay::Focus(FocusTarget focus) {
    if (target) target->Focus(focus);
}
void AppSession::FeedbackRelay::ShowConversionPage() {
    if (target) target->ShowConversionPage();
}
void AppSession::FeedbackRelay::SetHint(const std::string& text) {
    if (target) target->SetHint(text);
}
void AppSession::FeedbackRelay::ShowProgressBar(bool visible) {
    if (target) target->ShowProgressBar(visible);
}
void AppSession::FeedbackRelay::StepProgress() {
    if (target) target->StepProgress();
}
void AppSession::FeedbackRelay::ResetProgress() {
    if (target) target->ResetProgress();
}
void AppSession::FeedbackRelay::SetStopFace(bool stopping) {
    if (target) target->SetStopFace(stopping);
}

}  // namespace ozm
