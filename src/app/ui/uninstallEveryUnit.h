#pragma once
// The uninstall window: a question icon, the note to close every OZM program first, the
// start and close buttons and the link to the maker's home page. The removal itself is
// Uninstall (plain C++); the window is its host.

#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>

#include "app/maintenance/Uninstall.h"
#include "platform/Trash.h"

class QLabel;
class QPushButton;

namespace ozm {

inline constexpr std::string_view kUninstallFormCaption = "OZM软件卸载程序";
inline constexpr std::string_view kUninstallNote =
    "单击按钮\"开始卸载\"前，请您先关闭所有OZM软件。";
inline constexpr std::string_view kUninstallStartText = "开始卸载";
inline constexpr std::string_view kUninstallCloseText = "关闭";
inline constexpr std::string_view kLatestSoftwareLink = "查看OZM最新软件";

class TFrmUninstall : public QDialog, public UninstallHost {
    Q_OBJECT

  public:
    TFrmUninstall(UninstallPlaces places, Trash& trash, QWidget* parent = nullptr);

    // Left = (screen width - width) / 2 - 50, top = (screen height - height) / 2 - 30,
    // the halves truncated.
    void PlaceOnScreen();

    // The start button: the removal steps; on success the process is ended.
    void BtnStartClick();
    // Ends without uninstalling.
    void BtnCloseClick();
    // Opens the maker's home page in the browser.
    void LblLinkClick();

    // UninstallHost
    void ShowMessageAtPointer(const std::string& text) override;
    bool StartScript(const std::filesystem::path& script) override;
    void EndProcess() override;

    // Stand-ins for the process-wide actions, for tests.
    std::function<bool(const std::vector<std::string>& argv)> startDetached;
    std::function<void()> endProcess;

  protected:
    void reject() override;  // Esc answers as the close button

  private:
    UninstallPlaces places_;
    Trash& trash_;
    QLabel* ImgQuestion_ = nullptr;
    QLabel* LblNote_ = nullptr;
    QLabel* LblLink_ = nullptr;
    QPushButton* BtnStart_ = nullptr;
    QPushButton* BtnClose_ = nullptr;
};

}  // namespace ozm
