#include "app/ui/QuickMenu.h"

#include <QClipboard>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QScreen>
#include <QTimer>

#include "app/shell/Wallpaper.h"
#include "app/ui/FolderChooser.h"
#include "app/ui/FrmImgCovertingUnit.h"
#include "app/ui/MainForm.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"
#include "platform/DesktopWallpaper.h"
#include "platform/Drives.h"
#include "platform/ShellOpen.h"

namespace ozm {

namespace {

constexpr int kAutoCloseMs = 2000;

QAction* Entry(QMenu* menu, std::string_view caption, const QString& name) {
    QAction* action = menu->addAction(T(caption));
    action->setObjectName(name);
    return action;
}

// The entries whose captions every format submenu takes from the JPG submenu.
bool Mirrored(const QAction* entry) {
    if (entry->isSeparator()) return false;
    if (entry->menu()) return entry->menu()->objectName().endsWith(QStringLiteral("Recent"));
    const int code = entry->data().toInt();
    return code == destination::MyDocuments || code == destination::Favourite ||
           code == destination::FavouriteSetting;
}

}  // namespace

TQuickMenu::TQuickMenu(TMainForm& form, AppSession& session) : form_(form), session_(session) {
    logic_ = &session_.AttachQuickMenu(*this);
    logic_->Bridge().SetWakeUp([this] {
        // Any thread: one queued call per wake-up runs the worker's calls on this thread.
        QMetaObject::invokeMethod(
            this, [this] { logic_->Bridge().RunPending(); }, Qt::QueuedConnection);
    });
    timerAutoClose_ = new QTimer(this);
    timerAutoClose_->setObjectName(QStringLiteral("TimerAutoClose"));
    timerAutoClose_->setSingleShot(true);
    timerAutoClose_->setInterval(kAutoCloseMs);
    connect(timerAutoClose_, &QTimer::timeout, this, [this] { logic_->TimerAutoCloseTimer(); });
    Build();
}

TQuickMenu::~TQuickMenu() {
    // The worker ends before the window it reports to.
    session_.DetachQuickMenu();
    progress_.reset();
}

// --- the menu ------------------------------------------------------------------------------

void TQuickMenu::Build() {
    pm_ = new QMenu(&form_);
    pm_->setObjectName(QStringLiteral("PmRightMouse"));
    pm_->setAccessibleName(T("图片快速转换"));
    connect(pm_, &QMenu::aboutToShow, this, [this] { logic_->MenuLoopEntered(); });
    connect(pm_, &QMenu::aboutToHide, this, [this] { logic_->MenuClosed(); });

    QMenu* other = nullptr;
    for (const QuickFormatMenu& format : kQuickFormatMenus) {
        if (format.underOtherFormats && !other) {
            other = pm_->addMenu(T(quicktext::OtherFormats));
            other->setObjectName(QStringLiteral("MnOtherFormats"));
        }
        BuildFormatMenu(format.underOtherFormats ? other : pm_, format);
    }
    pm_->addSeparator();
    BuildPresetMenus();
    pm_->addSeparator();
    BuildCommandEntries();
}

// The zoom and angle presets, each as a submenu that only sets the value and one that also
// converts.
void TQuickMenu::BuildPresetMenus() {
    auto presetMenu = [this](std::string_view caption, const char* name, QuickSubmenu kind) {
        QMenu* menu = pm_->addMenu(T(caption));
        menu->setObjectName(QString::fromLatin1(name));
        connect(menu, &QMenu::aboutToShow, this, [this, kind] { logic_->SubmenuOpened(kind); });
        return menu;
    };
    for (bool convert : {false, true}) {
        QMenu* menu = presetMenu(convert ? quicktext::ZoomAndConvert : quicktext::Zoom,
                                 convert ? "ResizeandConvert1" : "MnZoom",
                                 convert ? QuickSubmenu::ZoomAndConvert : QuickSubmenu::Zoom);
        for (const ZoomPreset& preset : kZoomPresets) {
            QAction* action =
                Entry(menu, preset.caption,
                      QStringLiteral("Zoom%1%2").arg(convert ? "C" : "").arg(preset.percent));
            action->setCheckable(true);
            action->setData(preset.percent);
            connect(action, &QAction::triggered, this,
                    [this, convert, p = preset.percent] { logic_->PickZoom(p, convert); });
            zoomEntries_.push_back(action);
        }
    }
    for (bool convert : {false, true}) {
        QMenu* menu = presetMenu(convert ? quicktext::RotateAndConvert : quicktext::Rotate,
                                 convert ? "RotateandConvert1" : "MnRotate",
                                 convert ? QuickSubmenu::RotateAndConvert : QuickSubmenu::Rotate);
        for (const RotatePreset& preset : kRotatePresets) {
            if (preset.separator) {
                menu->addSeparator();
                continue;
            }
            QAction* action =
                Entry(menu, convert ? preset.convertCaption : preset.caption,
                      QStringLiteral("Angle%1%2").arg(convert ? "C" : "").arg(preset.degrees));
            action->setCheckable(true);
            action->setData(preset.degrees);
            connect(action, &QAction::triggered, this,
                    [this, convert, d = preset.degrees] { logic_->PickAngle(d, convert); });
            angleEntries_.push_back(action);
        }
    }
}

// The custom conversion, the clipboard, the wallpaper and the two marks.
void TQuickMenu::BuildCommandEntries() {
    connect(Entry(pm_, quicktext::CustomConversion, QStringLiteral("MnCustomConvert")),
            &QAction::triggered, this, [this] { logic_->PickCustomConversion(); });
    connect(Entry(pm_, quicktext::Clipboard, QStringLiteral("MnCopyToClipboard")),
            &QAction::triggered, this, [this] { logic_->PickClipboard(); });
    QMenu* wallpaper = pm_->addMenu(T(quicktext::Wallpaper));
    wallpaper->setObjectName(QStringLiteral("MnWallpaper"));
    for (const WallpaperPlacementInfo& info : kWallpaperPlacements) {
        const int tag = static_cast<int>(info.placement);
        QAction* action = Entry(wallpaper, info.caption, QStringLiteral("Wallpaper%1").arg(tag));
        action->setData(tag);
        connect(action, &QAction::triggered, this, [this, tag] { logic_->PickWallpaper(tag); });
    }
    pm_->addSeparator();

    autoCloseEntry_ = Entry(pm_, quicktext::AutoClose, QStringLiteral("AutoCloseWhenCopy1"));
    autoCloseEntry_->setCheckable(true);
    connect(autoCloseEntry_, &QAction::triggered, this,
            [this](bool checked) { logic_->PickAutoClose(checked); });
    openTargetEntry_ = Entry(pm_, quicktext::OpenTarget, QStringLiteral("AutoShowTargetFolder1"));
    openTargetEntry_->setCheckable(true);
    connect(openTargetEntry_, &QAction::triggered, this,
            [this](bool checked) { logic_->PickOpenTarget(checked); });
}

void TQuickMenu::BuildFormatMenu(QMenu* parent, const QuickFormatMenu& format) {
    QMenu* menu = parent->addMenu(T(format.caption));
    menu->setObjectName(Q(format.objectName));
    menu->menuAction()->setData(format.code);
    formatMenus_.push_back(menu);
    if (format.code == FormatCode::Jpg) jpgEntry_ = menu->menuAction();
    const ImageFormatCode code = format.code;
    connect(menu, &QMenu::aboutToShow, this,
            [this, code] { logic_->SubmenuOpened(QuickSubmenu::Format, code); });
    for (const QuickDestinationEntry& entry : kQuickDestinations) {
        if (entry.separatorBefore) menu->addSeparator();
        if (entry.code == destination::RecentFolders) {
            QMenu* recent = menu->addMenu(T(entry.caption));
            recent->setObjectName(Q(format.objectName) + QStringLiteral("Recent"));
            for (std::size_t i = 0; i < kMaxRecentFolders; ++i) {
                QAction* action = recent->addAction(QString());
                action->setObjectName(QStringLiteral("MnHistory%1").arg(i + 1));
                action->setVisible(false);
                connect(action, &QAction::triggered, this, [this, code, action] {
                    logic_->PickRecentFolder(code, S(action->data().toString()));
                });
            }
            connect(recent, &QMenu::aboutToShow, this,
                    [this] { logic_->SubmenuOpened(QuickSubmenu::Recent); });
            recentMenus_.push_back(recent);
            continue;
        }
        QAction* action =
            Entry(menu, entry.caption, Q(format.objectName) + QString::number(entry.code));
        action->setData(entry.code);
        connect(action, &QAction::triggered, this,
                [this, code, d = entry.code] { logic_->PickDestination(code, d); });
    }
    if (code == FormatCode::Jpg) {
        menu->addSeparator();
        QMenu* quality = menu->addMenu(T(quicktext::JpgQuality));
        quality->setObjectName(QStringLiteral("MnJPGQuality"));
        for (const JpegQualityPreset& preset : kJpegQualityPresets) {
            QAction* action = Entry(quality, preset.caption,
                                    QStringLiteral("MnJPGQuality%1").arg(preset.quality));
            action->setCheckable(true);
            action->setData(preset.quality);
            connect(action, &QAction::triggered, this,
                    [this, q = preset.quality] { logic_->PickJpegQuality(q); });
            qualityEntries_.push_back(action);
        }
    }
}

void TQuickMenu::Prepare() {
    // The entries every other format submenu copies from the JPG submenu, by position.
    const QList<QAction*> first = formatMenus_.front()->actions();
    for (std::size_t m = 1; m < formatMenus_.size(); ++m) {
        const QList<QAction*> entries = formatMenus_[m]->actions();
        for (int i = 0; i < entries.size() && i < first.size(); ++i) {
            if (Mirrored(first[i])) entries[i]->setText(first[i]->text());
        }
    }
    SyncMenu();
}

void TQuickMenu::SyncMenu() {
    jpgEntry_->setText(T(logic_->JpgCaption()));
    // A screen reader names an open submenu by its entry's caption.
    for (QMenu* submenu : pm_->findChildren<QMenu*>()) submenu->setAccessibleName(submenu->title());
    for (QAction* action : qualityEntries_)
        action->setChecked(action->data().toInt() == logic_->JpegQualityMark());
    const SettingsModel& model = session_.Model();
    for (QAction* action : zoomEntries_)
        action->setChecked(model.zoomMenuCheckedTag &&
                           action->data().toInt() == *model.zoomMenuCheckedTag);
    for (QAction* action : angleEntries_)
        action->setChecked(model.rotateMenuCheckedTag &&
                           action->data().toInt() == *model.rotateMenuCheckedTag);
    autoCloseEntry_->setChecked(logic_->AutoCloseMark());
    openTargetEntry_->setChecked(logic_->OpenTargetMark());
    const auto recent = logic_->RecentEntries();
    for (QMenu* menu : recentMenus_) {
        const QList<QAction*> actions = menu->actions();
        for (int i = 0; i < actions.size() && i < static_cast<int>(recent.size()); ++i) {
            const RecentEntry& entry = recent[static_cast<std::size_t>(i)];
            actions[i]->setVisible(entry.visible);
            actions[i]->setText(Q(entry.caption));
            actions[i]->setData(Q(entry.folder));
        }
    }
}

void TQuickMenu::Start(std::vector<std::string> commandLineFiles) {
    quickMode_ = true;
    offScreen_ = true;
    form_.installEventFilter(this);
    logic_->QuickStart(std::move(commandLineFiles));
}

void TQuickMenu::Terminate() { logic_->Terminate(); }

bool TQuickMenu::eventFilter(QObject* watched, QEvent* event) {
    // The main window shown by "自定义图片转换" ends the program when it closes.
    if (watched == &form_ && event->type() == QEvent::Close && quickMode_) {
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

// --- QuickMenuHost -------------------------------------------------------------------------

void TQuickMenu::ShowMessage(const std::string& text) { form_.ShowMessage(text); }

std::string TQuickMenu::ChooseFolder(const std::string& prompt, const std::string& startFolder) {
    return ChooseFolderDialog(nullptr, prompt, startFolder);
}

ScreenPoint TQuickMenu::PointerPosition() {
    const QPoint pos = QCursor::pos();
    return {pos.x(), pos.y()};
}

void TQuickMenu::OpenMenuAt(ScreenPoint point) {
    SyncMenu();
    // After the menu that ran the command has finished closing.
    QTimer::singleShot(0, pm_, [this, point] {
        if (!ending_) pm_->popup(QPoint(point.x, point.y));
    });
}

void TQuickMenu::MenuStateChanged() { SyncMenu(); }

void TQuickMenu::StartAutoCloseTimer() { timerAutoClose_->start(); }

bool TQuickMenu::MainWindowOnScreen() { return !offScreen_ && form_.isVisible(); }

void TQuickMenu::HideMainWindow() { form_.hide(); }

void TQuickMenu::ShowMainWindow(bool atTopZero) {
    // Shown but off-screen: nothing is mapped at all.
    if (!atTopZero) return;
    offScreen_ = false;
    form_.ShowMainWindowMode();
    form_.move(form_.x(), 0);
}

void TQuickMenu::SetSourceFolder(const std::string& folder) { session_.SetSourceFolder(folder); }

void TQuickMenu::EndProgram() {
    if (ending_) return;
    ending_ = true;
    timerAutoClose_->stop();
    if (pm_->isVisible()) pm_->hide();
    if (progress_ && progress_->isVisible()) progress_->hide();
    form_.close();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

std::string TQuickMenu::ChooseFavouriteFolder() { return session_.ChooseFavouriteFolder(*this); }

std::string TQuickMenu::FirstRemovableVolume() {
    const std::filesystem::path volume = SystemDrives().FirstRemovableVolume();
    return volume.empty() ? std::string() : volume.string();
}

void TQuickMenu::OpenFolder(const std::string& folder) { SystemShellOpen().Open(folder); }

void TQuickMenu::PrepareProgressWindow() {
    if (progress_) return;
    progress_ = std::make_unique<TFrmImgCoverting>(
        logic_->Progress(), [this](bool checked) { logic_->ProgressAutoCloseClicked(checked); },
        [this](const std::string& folder) { OpenFolder(folder); });
}

void TQuickMenu::CloseProgressWindow() {
    if (progress_ && progress_->isVisible()) progress_->close();
}

void TQuickMenu::SetProgressAutoClose(bool autoClose) {
    if (progress_) progress_->SetAutoClose(autoClose);
}

void TQuickMenu::SetProgressText(const std::string& text) {
    if (progress_) progress_->SetProgressText(text);
}

void TQuickMenu::SetProgressTarget(const std::string& folder) {
    if (progress_) progress_->SetTargetFolder(folder);
}

void TQuickMenu::ShowProgressWindow() {
    PrepareProgressWindow();
    progress_->ShowModal([this] { logic_->ProgressWindowClosed(); });
}

bool TQuickMenu::CopyToClipboard(const Bitmap& bitmap) {
    const QImage image = ToQImage(bitmap);
    if (image.isNull()) return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setImage(image.convertToFormat(QImage::Format_RGB32));
    if (!clipboard->ownsClipboard()) return false;
    if (!watchingClipboard_) {
        watchingClipboard_ = true;
        // Another program took the clipboard: nothing keeps this one running any more.
        connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
            if (mode == QClipboard::Clipboard && !QGuiApplication::clipboard()->ownsClipboard() &&
                !MainWindowOnScreen())
                EndProgram();
        });
    }
    return true;
}

ScreenSize TQuickMenu::ScreenPixels() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {1280, 1024};
    const QSize size = screen->geometry().size() * screen->devicePixelRatio();
    return {size.width(), size.height()};
}

DesktopWallpaper& TQuickMenu::WallpaperSetter() {
    if (!wallpaper_) wallpaper_ = std::make_unique<SystemDesktopWallpaper>();
    return *wallpaper_;
}

}  // namespace ozm
