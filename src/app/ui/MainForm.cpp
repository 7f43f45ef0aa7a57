#include "app/ui/MainForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "app/convert/ListPreview.h"
#include "app/shell/ProductInfo.h"
#include "app/ui/FileListBox.h"
#include "app/ui/FramePlacement.h"
#include "app/ui/FrmUpdateRoot.h"
#include "app/ui/HelpPage.h"
#include "app/ui/InterfaceTexts.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/QuickMenu.h"
#include "app/ui/Translation.h"

// The button images live in the static library: pulled in by hand, or the linker drops them.
static void InitButtonImages() { Q_INIT_RESOURCE(images); }

namespace ozm {

namespace {

const QColor kBackground(245, 250, 254);
constexpr int kProgressStep = 10;

// Every control is found by its system name; screen readers read the accessible name (the
// visible caption where there is one) and the description, which says what a button does.
template <typename W>
W* Named(W* widget, const char* objectName, const QString& accessibleName,
         const QString& description = {}) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setAccessibleName(accessibleName);
    if (!description.isEmpty()) widget->setAccessibleDescription(description);
    return widget;
}

QFont ControlFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

// The convert button's face does not change while a run goes on, but a press then stops it:
// a screen reader says which of the two a press does.
void NameConvertButton(QToolButton* button, bool stops) {
    button->setAccessibleName(stops ? T("停止转换") : T("开始转换"));
    button->setAccessibleDescription(stops ? T("停止正在进行的转换")
                                           : T("把所选图片转换为勾选的格式"));
}

void SetTextIfChanged(QLineEdit* edit, const std::string& text) {
    const QString q = Q(text);
    if (edit->text() != q) edit->setText(q);
}

// When the mouse or key release that clicks the button it watches was made. A click with no
// release just before it (an assistive tool's press action) counts as made when it comes.
class ClickTimes : public QObject {
  public:
    using QObject::QObject;
    ClickClock::time_point TakeClickMade() {
        const ClickClock::time_point now = ClickClock::now();
        const auto release = std::exchange(release_, std::nullopt);
        // The click follows its release within the same event's handling.
        return release && now - release->handled < std::chrono::milliseconds(100) ? release->made
                                                                                  : now;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease) {
            const ClickClock::time_point now = ClickClock::now();
            release_ =
                Release{InputEventMade(static_cast<QInputEvent*>(event)->timestamp(), now), now};
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    struct Release {
        ClickClock::time_point made;
        ClickClock::time_point handled;
    };
    std::optional<Release> release_;
};

}  // namespace

// --- page tabs ---------------------------------------------------------------------------

void TOwnerDrawTabBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < count(); ++i) {
        const QRect rect = tabRect(i);
        painter.fillRect(rect, i == currentIndex() ? QColor(Qt::white) : kBackground);
        painter.setPen(QColor(160, 170, 180));
        painter.drawRect(rect.adjusted(0, 0, -1, 0));
        QFont font = ControlFont();
        font.setBold(i == currentIndex());
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, tabText(i));
    }
}

QSize TOwnerDrawTabBar::tabSizeHint(int index) const {
    QFont bold = ControlFont();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return {metrics.horizontalAdvance(tabText(index)) + 28, metrics.height() + 10};
}

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent) {
    auto* tabs = new TOwnerDrawTabBar(this);
    tabs->setObjectName(QStringLiteral("PageTabs"));
    tabs->setAccessibleName(T("页面标签"));
    setTabBar(tabs);
}

// --- creation ----------------------------------------------------------------------------

TMainForm::TMainForm(AppSession& session, std::filesystem::path helpFolder, QWidget* parent)
    : QWidget(parent),
      session_(session),
      model_(session.Model()),
      helpFolder_(std::move(helpFolder)) {
    setObjectName(QStringLiteral("MainForm"));
    InitButtonImages();
    session_.AttachMainWindow(*this);
    session_.RunBridge().SetWakeUp([this] {
        // Any thread: one queued call per wake-up runs the bridge's calls on this thread.
        QMetaObject::invokeMethod(
            this, [this] { session_.RunBridge().RunPending(); }, Qt::QueuedConnection);
    });
    session_.Run().SetFinishedHandler([this] { timerCheckExecute_->stop(); });
    previews_ = std::make_unique<PreviewLoader>(
        [this](ListSide side, std::uint64_t request, PreviewPicture picture) {
            // The loader's thread: the picture goes to this window's thread to be shown.
            auto shown = std::make_shared<PreviewPicture>(std::move(picture));
            QMetaObject::invokeMethod(
                this, [this, side, request, shown] { ShowPreviewPicture(side, request, *shown); },
                Qt::QueuedConnection);
        });

    BuildControls();
    ConnectFolderActions();
    FormCreate();
}

TMainForm::~TMainForm() {
    if (!shutDown_) {
        closing_ = true;
        session_.Run().FormCloseQuery();
        session_.RunBridge().Close();
        session_.Run().Wait();
    }
    quickMenu_->Logic().StopAndWait();
    FormDestroy();
    // The quick conversion and the run end before the widgets they report to.
    quickMenu_.reset();
    session_.DetachMainWindow();
}

// The window's steps of creation, in the order the controls are made: the order is the
// order of the widget tree, which the tests' dump of the window's texts follows.
void TMainForm::BuildControls() {
    resize(947, 720);
    move(40, 20);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    splitter5_ =
        Named(new QSplitter(Qt::Horizontal, this), "Splitter5", T("工具栏分隔条"));
    layout->addWidget(splitter5_);
    splitter5_->addWidget(BuildToolBar());

    pageControl_ = Named(new TPageControl(splitter5_), "PageControl1", T("页面"));
    splitter5_->addWidget(pageControl_);
    splitter5_->setStretchFactor(0, 0);
    splitter5_->setStretchFactor(1, 1);
    splitter5_->setChildrenCollapsible(false);
    connect(splitter5_, &QSplitter::splitterMoved, this,
            [this] { model_.toolBarWidth = toolBar_->width(); });

    QWidget* tabSheet1 = BuildConversionPage();
    auto* tbDemo = Named(new QWidget, "TbDemo", T(" 帮    助 "));
    pageControl_->addTab(tabSheet1, T("图片转换"));
    pageControl_->addTab(tbDemo, T(" 帮    助 "));
    // Links go to the opener in use when they are followed (tests put a recorder in).
    BuildHelpPage(tbDemo, this, HelpPagePath(), session_.ProgramFolder(),
                  QStringLiteral("%1 v%2")
                      .arg(T(Texts().displayTitle))
                      .arg(static_cast<double>(kProductVersion), 0, 'f', 1),
                  [this](const std::string& address) {
                      if (shell_) shell_->OpenAddress(address);
                  });

    BuildPathPanel();
    BuildMenus();
    quickMenu_ = std::make_unique<TQuickMenu>(*this, session_);
    BuildTimerAndShortcut();
    // The keyboard starts on the first control of the layout, whether or not the desktop
    // activates the window when it appears.
    btnImgCovert_->setFocus();
}

// The first page: the two list groups side by side over the hint line.
QWidget* TMainForm::BuildConversionPage() {
    auto* tabSheet1 = Named(new QWidget, "TabSheet1", T("图片转换"));
    auto* sheetLayout = new QVBoxLayout(tabSheet1);
    sheetLayout->setContentsMargins(2, 2, 2, 2);
    splitter1_ =
        Named(new QSplitter(Qt::Horizontal, tabSheet1), "Splitter1", T("列表分隔条"));
    splitter1_->addWidget(BuildListGroup(ListSide::Source));
    splitter1_->addWidget(BuildListGroup(ListSide::Target));
    sheetLayout->addWidget(splitter1_, 1);
    sheetLayout->addWidget(BuildHintPanel(tabSheet1));
    return tabSheet1;
}

// The progress bar (hidden until a run) and the red hint line beside it.
QWidget* TMainForm::BuildHintPanel(QWidget* page) {
    pnlHint_ = Named(new QWidget(page), "PnlHint", T("提示栏"));
    auto* hintLayout = new QHBoxLayout(pnlHint_);
    hintLayout->setContentsMargins(0, 2, 0, 2);
    progressBar_ = Named(new QProgressBar(pnlHint_), "ProgressBar1", T("转换进度"));
    progressBar_->setFixedWidth(81);
    progressBar_->setRange(0, 100);
    progressBar_->setTextVisible(false);
    progressBar_->hide();
    lblHint_ = Named(new QLabel(pnlHint_), "LblHint", QString());
    lblHint_->setAlignment(Qt::AlignCenter);
    lblHint_->setMinimumHeight(22);
    QPalette hintPalette = lblHint_->palette();
    hintPalette.setColor(QPalette::WindowText, Qt::red);
    lblHint_->setPalette(hintPalette);
    hintLayout->addWidget(progressBar_);
    hintLayout->addWidget(lblHint_, 1);
    return pnlHint_;
}

void TMainForm::BuildTimerAndShortcut() {
    timerCheckExecute_ = new QTimer(this);
    timerCheckExecute_->setObjectName(QStringLiteral("TimerCheckExecute"));
    timerCheckExecute_->setInterval(50);
    connect(timerCheckExecute_, &QTimer::timeout, this, [this] { StepProgress(); });

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, [this] { FormShortCut(); });
}

QWidget* TMainForm::BuildToolBar() {
    toolBar_ = Named(new QScrollArea, "SbToollBar", T("工具栏"));
    toolBar_->setWidgetResizable(true);
    toolBar_->setFrameShape(QFrame::NoFrame);
    // Tab goes from the list of the target straight back to the convert button; the scroll
    // area still brings a focused control into view.
    toolBar_->setFocusPolicy(Qt::NoFocus);
    toolBar_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("SbToollBarClient"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(6);

    btnImgCovert_ = Named(new QToolButton(box), "BtnImgCovert", QString());
    NameConvertButton(btnImgCovert_, false);
    btnImgCovert_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    btnImgCovert_->setAutoRaise(true);
    btnImgCovert_->setIconSize(QSize(136, 44));
    // A click is dated by its release: one queued while a run ended was meant for that run.
    auto* clickTimes = new ClickTimes(btnImgCovert_);
    btnImgCovert_->installEventFilter(clickTimes);
    connect(btnImgCovert_, &QToolButton::clicked, this,
            [this, clickTimes] { BtnImgCovertClick(clickTimes->TakeClickMade()); });
    column->addWidget(btnImgCovert_, 0, Qt::AlignHCenter);

    column->addWidget(BuildFormatGroup(box));

    BuildResizeGroups(box, column);

    column->addWidget(BuildRotateGroup(box));

    auto* pnlCsParent = Named(new QWidget(box), "PnlCSParent", QString());
    pnlCsParent->setMinimumHeight(40);
    column->addWidget(pnlCsParent);
    column->addStretch(1);
    toolBar_->setWidget(box);
    toolBar_->setMinimumWidth(120);
    return toolBar_;
}

QGroupBox* TMainForm::BuildFormatGroup(QWidget* box) {
    gbConvertFormat_ = Named(new QGroupBox(box), "GbConvertFormat", T("转换格式"));
    gbConvertFormat_->installEventFilter(this);
    auto* grid = new QGridLayout(gbConvertFormat_);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(2);
    // Made in the grid's reading order, then the hidden ones, which is the tab order.
    std::array<std::size_t, kFormatBoxCount> order{};
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
        const auto at = [](const FormatBoxInfo& f) {
            return std::pair(f.row < 0 ? kFormatBoxCount : std::size_t(f.row), f.column);
        };
        return at(kFormatBoxes[a]) < at(kFormatBoxes[b]);
    });
    for (std::size_t i : order) {
        const FormatBoxInfo& info = kFormatBoxes[i];
        const QString caption = T(info.caption);
        auto* check =
            Named(new QCheckBox(caption, gbConvertFormat_), std::string(info.key.name).c_str(),
                  caption, T("勾选后转换为%1格式").arg(caption));
        formatBoxes_[i] = check;
        if (info.row < 0) {
            check->hide();  // only keeps its stored state
            continue;
        }
        grid->addWidget(check, info.row, info.column);
        const auto which = static_cast<FormatBox>(i);
        // Toggled, not clicked: a screen reader's toggle action and the keyboard change the
        // box without a click, and the model must follow whatever changed it.
        connect(check, &QCheckBox::toggled, this,
                [this, which](bool checked) { FormatBoxClick(which, checked); });
    }
    return gbConvertFormat_;
}

// The resize radio group, then the size group and the percentage group in one place.
void TMainForm::BuildResizeGroups(QWidget* box, QVBoxLayout* column) {
    rgZoomType_ = Named(new QGroupBox(box), "rgZoomType", T("图片比例类型"));
    auto* radios = new QVBoxLayout(rgZoomType_);
    radios->setContentsMargins(6, 4, 6, 4);
    radios->setSpacing(2);
    zoomTypeButtons_ = new QButtonGroup(rgZoomType_);
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(rgZoomType_);
        radio->setObjectName(QStringLiteral("rgZoomTypeItem%1").arg(i));
        zoomTypeButtons_->addButton(radio, i);
        radios->addWidget(radio);
    }
    connect(zoomTypeButtons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (syncing_ || !checked) return;
        session_.Resize().ZoomTypeClick(id);
        ModelChanged();
    });
    column->addWidget(rgZoomType_);

    // The size group and the percentage group share one place: one of them shows.
    auto* zoomPlace = new QWidget(box);
    auto* zoomPlaceLayout = new QVBoxLayout(zoomPlace);
    zoomPlaceLayout->setContentsMargins(0, 0, 0, 0);
    gbZoomSize_ = Named(new QGroupBox(zoomPlace), "GbZoomSize222", T("指定尺寸"));
    auto* sizeGrid = new QGridLayout(gbZoomSize_);
    sizeGrid->setContentsMargins(6, 4, 6, 4);
    lblWidth_ = Named(new QLabel(gbZoomSize_), "LblWidth", T("宽"));
    lblHeight_ = Named(new QLabel(gbZoomSize_), "LblHeight", T("高"));
    edtWidth_ = Named(new QLineEdit(gbZoomSize_), "EdtWidth", T("宽"));
    edtHeight_ = Named(new QLineEdit(gbZoomSize_), "EdtHeight", T("高"));
    cbZoomAuto_ = Named(new QCheckBox(gbZoomSize_), "CbZoomAuto", T("按原图比例"),
                        T("只填宽或高，另一边按原图比例算出"));
    lblWidth_->setBuddy(edtWidth_);
    lblHeight_->setBuddy(edtHeight_);
    sizeGrid->addWidget(lblWidth_, 0, 0);
    sizeGrid->addWidget(edtWidth_, 0, 1);
    sizeGrid->addWidget(lblHeight_, 1, 0);
    sizeGrid->addWidget(edtHeight_, 1, 1);
    sizeGrid->addWidget(cbZoomAuto_, 2, 0, 1, 2);
    gbZoomBei_ = Named(new QGroupBox(QStringLiteral("Percentage"), zoomPlace), "GbZoomBei",
                       QStringLiteral("Percentage"));
    auto* percentRow = new QHBoxLayout(gbZoomBei_);
    percentRow->setContentsMargins(6, 4, 6, 4);
    edtZoomPei_ = Named(new QLineEdit(gbZoomBei_), "EdtZoomPei", T("缩放百分比"));
    auto* percentLabel =
        Named(new QLabel(QStringLiteral("%"), gbZoomBei_), "LblPercent", QStringLiteral("%"));
    percentRow->addWidget(edtZoomPei_);
    percentRow->addWidget(percentLabel);
    zoomPlaceLayout->addWidget(gbZoomSize_);
    zoomPlaceLayout->addWidget(gbZoomBei_);
    gbZoomSize_->hide();
    gbZoomBei_->hide();
    column->addWidget(zoomPlace);

    for (QLineEdit* edit : {edtWidth_, edtHeight_, edtZoomPei_}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { EditTextChanged(edit); });
    }
    connect(cbZoomAuto_, &QCheckBox::toggled, this, [this](bool checked) {
        ShowConversionPage();
        session_.Resize().CbZoomAutoClick(checked);
        ModelChanged();
    });
}

QGroupBox* TMainForm::BuildRotateGroup(QWidget* box) {
    gbRotate_ = Named(new QGroupBox(box), "GbRotate", T("旋转"));
    auto* rotateGrid = new QGridLayout(gbRotate_);
    rotateGrid->setContentsMargins(6, 4, 6, 4);
    edtRotate1_ = Named(new QLineEdit(gbRotate_), "EdtRoateRate1", T("旋转角度"));
    edtRotate2_ =
        Named(new QLineEdit(gbRotate_), "EdtRoateRate2", T("旋转角度的百分之一度"));
    lbRoateType_ = Named(new QListWidget(gbRotate_), "LbRoateType", T("旋转方式"));
    lbRoateType_->setFixedHeight(74);
    rotateGrid->addWidget(edtRotate1_, 0, 0);
    rotateGrid->addWidget(edtRotate2_, 0, 1);
    rotateGrid->addWidget(lbRoateType_, 1, 0, 1, 2);
    for (QLineEdit* edit : {edtRotate1_, edtRotate2_}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { EditTextChanged(edit); });
    }
    connect(lbRoateType_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (syncing_) return;
        session_.Rotation().LbRoateTypeClick(row);
        ModelChanged();
    });
    // A screen reader selects an item without making it current: the selection leads.
    connect(lbRoateType_, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> picked = lbRoateType_->selectedItems();
        if (syncing_ || picked.size() != 1) return;
        const int row = lbRoateType_->row(picked.front());
        if (row != lbRoateType_->currentRow()) lbRoateType_->setCurrentRow(row);
    });
    return gbRotate_;
}

// One list group: the button row with the preview switch, then the list over its preview
// panel in a splitter.
QWidget* TMainForm::BuildListGroup(ListSide side) {
    const bool source = side == ListSide::Source;
    ListArea& area = Area(side);
    area.loaded = source ? &sourceImage_ : &targetImage_;
    area.group = Named(new QGroupBox, source ? "GbSourceList" : "GbTargetList",
                       T(source ? Texts().sourceListCaption : Texts().targetListCaption));
    auto* column = new QVBoxLayout(area.group);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(3);
    column->addWidget(BuildListButtons(side));

    area.splitter = Named(new QSplitter(Qt::Vertical, area.group),
                          source ? "Splitter2" : "Splitter3", T("预览分隔条"));
    BuildListBox(side);
    area.splitter->addWidget(area.list);
    area.splitter->addWidget(BuildPreviewPanel(side));
    area.splitter->setStretchFactor(0, 3);
    area.splitter->setStretchFactor(1, 2);
    area.previewPanel->hide();
    column->addWidget(area.splitter, 1);
    return area.group;
}

// The folder buttons of a list (the target row's carry the tag 2) and its preview switch.
QWidget* TMainForm::BuildListButtons(ListSide side) {
    const bool source = side == ListSide::Source;
    ListArea& area = Area(side);
    auto* buttonRow =
        Named(new QWidget(area.group), source ? "PnlSourceButtons" : "PnlTargetButtons",
              T("文件夹按钮"));
    auto* row = new QHBoxLayout(buttonRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    struct Button {
        const char* sourceName;
        const char* targetName;
        const char* hint;
        const char* sourceImage;
        const char* targetImage;
        // The hints are English; a screen reader gets a Chinese name and a description of
        // the list the button changes (%1).
        const char* name;
        const char* description;
    };
    const Button buttons[] = {
        {"BtnSelectDir", "BtnSelectSaveAsDir", "Choose folder", "BtnSetSourceDir",
         "BtnSelectSaveAsDir", "选择文件夹", "选择%1"},
        {"BtnOpenDir", "BtnOpenSaveAsDir", "Open the folder", "BtnqvOpenDir", "BtnOpenSaveAsDir",
         "打开文件夹", "在文件管理器中打开%1"},
        {"BtnDeskTop", "BtnDeskTop2", "Desktop", "BtnDeskTop", "BtnDeskTop", "我的桌面",
         "把%1设为桌面"},
        {"BtnMyDocuments", "BtnMyDocuments2", "My Documents", "BtnMyDocuments", "BtnMyDocuments",
         "我的文档", "把%1设为我的文档"},
        {"BtnMyPictures", "BtnMyPictures2", "My Pictures", "BtnMyPictures", "BtnMyPictures",
         "我的图片", "把%1设为我的图片"},
        {"BtnUDisk", "BtnUDisk2", "Removable Disk", "BtnUDisk", "BtnUDisk", "可移动磁盘",
         "把%1设为可移动磁盘"},
        {"BtnMyFav", "BtnMyFav2", "Fav folder", "BtnMyFav", "BtnMyFav", "收藏的文件夹",
         "把%1设为收藏的文件夹"},
        {"BtnAddFav", "BtnAddFav2", "Choose fav folder", "BtnAddFav", "BtnAddFav",
         "选择收藏的文件夹", "选择要收藏的文件夹"},
        {"BtnHistory", "BtnHistory2", "Last convert folder", "BtnHistory", "BtnHistory",
         "最近转换的文件夹", "从最近转换的文件夹中选择%1"},
    };
    const QString listName =
        source ? T("转换前文件夹") : T("转换后文件夹");
    for (const Button& entry : buttons) {
        auto* button =
            Named(new QToolButton(buttonRow), source ? entry.sourceName : entry.targetName,
                  T(entry.name), T(entry.description).replace(QStringLiteral("%1"), listName));
        button->setToolTip(QString::fromLatin1(entry.hint));
        button->setAutoRaise(true);
        button->setIconSize(QSize(20, 20));
        // The target row's folder buttons carry the tag 2: the tag says which list they change.
        button->setProperty("tag", source ? 0 : 2);
        LoadButtonImage(button, source ? entry.sourceImage : entry.targetImage);
        row->addWidget(button);
        if (std::string_view(entry.sourceName) == "BtnSelectDir") {
            connect(button, &QToolButton::clicked, this, [this, source] {
                if (source)
                    ChooseSourceFolder();
                else
                    ChooseTargetFolder();
            });
        }
        if (std::string_view(entry.sourceName) == "BtnHistory") {
            button->setProperty("historyButton", true);
        }
    }
    row->addStretch(1);
    area.previewSwitch = Named(new QCheckBox(T("预览"), buttonRow),
                               source ? "CbPreviewSourceImg" : "CbTargetImgPreview",
                               T("预览"), T("在列表下显示所选图片"));
    row->addWidget(area.previewSwitch);
    connect(area.previewSwitch, &QCheckBox::toggled, this, [this, side](bool checked) {
        const std::optional<std::string> toLoad =
            session_.Lists().PreviewSwitchClick(side, checked);
        ModelChanged();
        if (toLoad) LoadPreviewImage(side, *toLoad);
    });
    return buttonRow;
}

void TMainForm::BuildListBox(ListSide side) {
    const bool source = side == ListSide::Source;
    ListArea& area = Area(side);
    area.list = Named(new TFileListBox(area.splitter), source ? "LbDocList" : "LbTarget",
                      T(source ? Texts().sourceListCaption : Texts().targetListCaption));
    area.list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    area.list->setContextMenuPolicy(Qt::CustomContextMenu);
    area.list->installEventFilter(this);
    area.list->viewport()->installEventFilter(this);
    connect(area.list, &QListWidget::currentRowChanged, this,
            [this, side](int row) { ListCurrentChanged(side, row); });
    // A click shows the entry's preview even when it is the current entry already (after a
    // refresh, or with the preview switched on since), which changes no row.
    connect(area.list, &QAbstractItemView::clicked, this, [this, side](const QModelIndex& index) {
        if (index.row() == Area(side).rowAtPress) ShowPreview(side);
    });
    connect(area.list, &QListWidget::itemSelectionChanged, this,
            [this, side] { ListSelectionChanged(side); });
    connect(area.list, &QListWidget::itemDoubleClicked, this, [this, source] {
        if (source)
            LbDocListDblClick();
        else
            LbTargetDblClick();
    });
    connect(area.list, &QWidget::customContextMenuRequested, this, [this, source](QPoint pos) {
        QListWidget* list = Area(source ? ListSide::Source : ListSide::Target).list;
        (source ? pmImgList_ : pmOutput_)->popup(list->viewport()->mapToGlobal(pos));
    });
}

// The image control over its size label and "Strech" box.
QWidget* TMainForm::BuildPreviewPanel(ListSide side) {
    const bool source = side == ListSide::Source;
    ListArea& area = Area(side);
    area.previewPanel = Named(new QGroupBox(area.splitter),
                              source ? "GbSourcePreview" : "GbImgTarget", T("预览"));
    auto* previewColumn = new QVBoxLayout(area.previewPanel);
    previewColumn->setContentsMargins(2, 2, 2, 2);
    area.image = Named(new QLabel(area.previewPanel), source ? "ImgSource" : "ImgOutput",
                       T("预览图片"));
    area.image->setMinimumSize(40, 40);
    area.image->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    area.image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    area.image->installEventFilter(this);
    previewColumn->addWidget(area.image, 1);
    auto* previewBottom = new QHBoxLayout;
    area.sizeLabel =
        Named(new QLabel(area.previewPanel), source ? "LblWHSource" : "LblWHTarget", QString());
    area.stretch = Named(new QCheckBox(QStringLiteral("Strech"), area.previewPanel),
                         source ? "CbSourceStretch" : "CbTargetStretch", QStringLiteral("Strech"),
                         T("把预览图片拉伸到预览区的大小"));
    area.stretch->setChecked(true);
    connect(area.stretch, &QCheckBox::toggled, this, [this, side] { ApplyStretch(side); });
    previewBottom->addWidget(area.sizeLabel, 1);
    previewBottom->addWidget(area.stretch);
    previewColumn->addLayout(previewBottom);
    return area.previewPanel;
}

void TMainForm::BuildPathPanel() {
    // Never shown: the two edits hold the folder texts the lists are refreshed from.
    pnlPath_ = Named(new QWidget(this), "PnlPath", QString());
    pnlPathButtons_ = Named(new QWidget(pnlPath_), "PnlPathButtons", QString());
    pnlPathButtons_->setGeometry(0, 0, 48, 44);
    edtPath_ = Named(new QLineEdit(pnlPath_), "EdtPath", T("转换前文件夹"));
    edtOutput_ = Named(new QLineEdit(pnlPath_), "EdtOutput", T("转换后文件夹"));
    edtPath_->move(52, 0);
    edtOutput_->move(52, 22);
    pnlPath_->setGeometry(0, 0, width(), 44);
    pnlPath_->hide();
    for (QLineEdit* edit : {edtPath_, edtOutput_}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { EditTextChanged(edit); });
    }
}

void TMainForm::BuildMenus() {
    auto menu = [this](const char* name, const QString& accessibleName) {
        auto* m = new QMenu(this);
        m->setObjectName(QString::fromLatin1(name));
        m->setAccessibleName(accessibleName);
        return m;
    };
    auto entry = [](QMenu* m, const char* name, const QString& caption) {
        QAction* action = m->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    pmImgList_ = menu("PmImgList", T("转换前图片菜单"));
    connect(entry(pmImgList_, "MnConvertSelected", T("转换所选图片(&C)")),
            &QAction::triggered, this, [this] { BtnImgCovertClick(); });
    pmImgList_->addSeparator()->setObjectName(QStringLiteral("N1"));
    entry(pmImgList_, "MnOpenDefault", T("用默认方式打开"));
    entry(pmImgList_, "MnOpenFolder", T("打开所在文件夹"));
    entry(pmImgList_, "MnDeletePic", T("删除所选图片"));
    entry(pmImgList_, "MnRenamePic", T("重命名"));
    entry(pmImgList_, "PmOpenInPaint", T("在\"画图\"中打开"));

    pmOutput_ = menu("PmOutput", T("转换后图片菜单"));
    entry(pmOutput_, "MnDefaultOpen", T("默认打开(&D)"));
    entry(pmOutput_, "MnOpenOutputFolder", T("打开所在的文件夹"));
    entry(pmOutput_, "MnDeleteFileOP", T("删除所选图片"));
    entry(pmOutput_, "N3", T("在\"画图\"中打开"));

    pmApp_ = menu("PmApp", T("程序菜单"));
    entry(pmApp_, "OpenApplicationPath1", T("打开所在的文件夹"));

    pmHistorys_ = menu("PmHistorys", T("最近转换的文件夹"));
}

void TMainForm::LoadButtonImage(QAbstractButton* button, const char* resourceName) {
    const QPixmap image(QStringLiteral(":/BMP/") + QString::fromLatin1(resourceName));
    if (image.isNull()) return;  // a missing image leaves the one the button had
    button->setIcon(QIcon(image));
    button->setIconSize(image.size());
}

void TMainForm::SetFonts() {
    const QFont font = ControlFont();
    setFont(font);
    for (QWidget* child : findChildren<QWidget*>()) {
        if (qobject_cast<QComboBox*>(child) || qobject_cast<QListWidget*>(child) ||
            qobject_cast<QCheckBox*>(child) || qobject_cast<QLabel*>(child) ||
            qobject_cast<QToolButton*>(child) || qobject_cast<QLineEdit*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QScrollArea*>(child) ||
            qobject_cast<QRadioButton*>(child) || child->parentWidget() == pageControl_ ||
            child->inherits("QStackedWidget") || child == pnlHint_ || child == pnlPath_) {
            child->setFont(font);
        }
    }
    // The hint line keeps its own size.
    QFont hint = font;
    hint.setPixelSize(15);
    lblHint_->setFont(hint);
}

void TMainForm::FormCreate() {
    const InterfaceTexts& texts = Texts();
    try {
        const std::string displayTitle = S(T(texts.displayTitle));
        captionText_ =
            FormatMainCaption(MakeCaptionFormat(TodayLocal()), displayTitle, kProductVersion);
        setWindowTitle(Q(captionText_));
        setAccessibleName(Q(captionText_));
        LoadButtonImage(btnImgCovert_, "BtnImgCovert");

        gbConvertFormat_->setTitle(T(texts.formatGroup));
        rgZoomType_->setTitle(T(texts.zoomTypeGroup));
        for (int i = 0; i < 3; ++i) {
            zoomTypeButtons_->button(i)->setText(T(texts.zoomTypes[static_cast<std::size_t>(i)]));
            zoomTypeButtons_->button(i)->setAccessibleName(
                T(texts.zoomTypes[static_cast<std::size_t>(i)]));
            static const char* const kZoomTypeDescriptions[] = {
                "转换时不改变图片大小", "转换时缩放到指定的宽和高", "转换时按百分比缩放"};
            zoomTypeButtons_->button(i)->setAccessibleDescription(
                T(kZoomTypeDescriptions[i]));
        }
        gbZoomSize_->setTitle(T(texts.sizeGroup));
        lblWidth_->setText(T(texts.widthLabel));
        lblHeight_->setText(T(texts.heightLabel));
        cbZoomAuto_->setText(T(texts.keepAspect));
        gbRotate_->setTitle(T("旋转"));
        source_.group->setTitle(T(texts.sourceListCaption));
        target_.group->setTitle(T(texts.targetListCaption));
        for (std::string_view item : texts.rotateItems) lbRoateType_->addItem(T(item));
        for (auto* named : std::initializer_list<QWidget*>{gbConvertFormat_, rgZoomType_, lblWidth_,
                                                           lblHeight_, cbZoomAuto_, gbRotate_})
            named->setAccessibleName(named == lblWidth_     ? lblWidth_->text()
                                     : named == lblHeight_  ? lblHeight_->text()
                                     : named == cbZoomAuto_ ? cbZoomAuto_->text()
                                     : named == gbRotate_   ? gbRotate_->title()
                                     : named == rgZoomType_ ? rgZoomType_->title()
                                                            : gbConvertFormat_->title());
        SetFonts();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ozm-imgconv: window creation stopped: %s\n", e.what());
        return;
    }

    try {
        session_.LoadSettings();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ozm-imgconv: loading the settings stopped: %s\n", e.what());
    }
    try {
        PrepareQuickMenu();
        if (auto toLoad = session_.Lists().ShowSourcePreview())
            LoadPreviewImage(ListSide::Source, *toLoad);
        if (auto toLoad = session_.Lists().ShowTargetPreview())
            LoadPreviewImage(ListSide::Target, *toLoad);
        session_.Resize().RestorePreset(model_.zoomPreset);
        SetHint("");
        progressBar_->setValue(0);
        // The tool bar never takes more than half of the window: the lists stay in view.
        const int toolBarWidth = std::clamp(model_.toolBarWidth, kToolBarMinWidth,
                                            std::max(kToolBarMinWidth, width() / 2));
        splitter5_->setSizes({toolBarWidth, std::max(1, width() - toolBarWidth)});
        SyncHistoryMenu();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ozm-imgconv: window creation stopped: %s\n", e.what());
    }
    SyncFromModel();
}

void TMainForm::PrepareQuickMenu() { quickMenu_->Prepare(); }

void TMainForm::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    try {
        const bool neverShown = quickMenu_->KeptOffScreen();
        if (!neverShown)
            model_.toolBarWidth = toolBar_->width() > 0 ? toolBar_->width() : model_.toolBarWidth;
        const WriteResult result = session_.SaveSettings(!neverShown);
        if (!result.Ok())
            std::fprintf(stderr, "ozm-imgconv: settings not saved: %s\n", result.error.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ozm-imgconv: settings not saved: %s\n", e.what());
    }
}

void TMainForm::ShowMainWindowMode() {
    const QRect screenRect = screen() ? screen()->geometry() : QRect(0, 0, 1280, 1024);
    // The frame at left 10, top 10: with a window manager the title bar is on the screen.
    PlaceWindowFrame(*this, [screenRect](const QMargins&) {
        return QRect(screenRect.x() + 10, screenRect.y() + 10, screenRect.width() - 40,
                     screenRect.height() - 90);
    });
    setWindowOpacity(0.0);
    show();
    raise();
    activateWindow();
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(500);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

std::string TMainForm::Caption() const { return captionText_; }

// --- model and controls -----------------------------------------------------------------

void TMainForm::ModelChanged() { SyncFromModel(); }

void TMainForm::SyncFromModel() {
    syncing_ = true;
    for (std::size_t i = 0; i < kFormatBoxCount; ++i) {
        const QSignalBlocker block(formatBoxes_[i]);
        formatBoxes_[i]->setChecked(model_.formatBoxes[i]);
    }
    {
        const QSignalBlocker block(zoomTypeButtons_);
        if (model_.resizeMode >= 0 && model_.resizeMode < 3) {
            zoomTypeButtons_->button(model_.resizeMode)->setChecked(true);
        } else if (QAbstractButton* checked = zoomTypeButtons_->checkedButton()) {
            zoomTypeButtons_->setExclusive(false);
            checked->setChecked(false);
            zoomTypeButtons_->setExclusive(true);
        }
    }
    gbZoomSize_->setVisible(model_.sizeGroupVisible);
    gbZoomBei_->setVisible(model_.percentGroupVisible);
    SetTextIfChanged(edtWidth_, model_.edtWidth);
    SetTextIfChanged(edtHeight_, model_.edtHeight);
    SetTextIfChanged(edtZoomPei_, model_.edtZoomPei);
    {
        const QSignalBlocker block(cbZoomAuto_);
        cbZoomAuto_->setChecked(model_.keepAspect);
    }
    {
        const QSignalBlocker block(lbRoateType_);
        if (lbRoateType_->currentRow() != model_.rotateListIndex)
            lbRoateType_->setCurrentRow(model_.rotateListIndex);
    }
    SetTextIfChanged(edtRotate1_, model_.edtRotate1);
    SetTextIfChanged(edtRotate2_, model_.edtRotate2);
    SetTextIfChanged(edtPath_, model_.source.editText);
    SetTextIfChanged(edtOutput_, model_.target.editText);
    const InterfaceTexts& texts = Texts();
    for (ListSide side : {ListSide::Source, ListSide::Target}) {
        ListArea& area = Area(side);
        const FolderSide& model = ModelSide(side);
        const QString caption =
            model.caption.empty()
                ? T(side == ListSide::Source ? texts.sourceListCaption : texts.targetListCaption)
                : T(model.caption);
        area.group->setTitle(caption);
        area.group->setAccessibleName(caption);
        const QSignalBlocker block(area.previewSwitch);
        area.previewSwitch->setChecked(model.previewSwitch);
        area.previewPanel->setVisible(model.previewPanelVisible);
    }
    syncing_ = false;
    options_.Set(model_.Options());
}

void TMainForm::SyncList(ListSide side) {
    ListArea& area = Area(side);
    syncing_ = true;
    {
        const QSignalBlocker block(area.list);
        area.list->ShowList(ModelSide(side).list);
    }
    area.list->viewport()->update();
    syncing_ = false;
    if (side == ListSide::Source) PublishSourceList(true);
}

void TMainForm::PublishSourceList(bool entriesChanged) {
    const FileListModel& list = model_.source.list;
    if (entriesChanged)
        sourceShared_.Set(list.Entries(), list.SelectedFlags(), list.CurrentIndex());
    else
        sourceShared_.SetSelected(list.SelectedFlags(), list.CurrentIndex());
}

void TMainForm::SyncHistoryMenu() {
    // Entries without a folder are left out (hidden); the folder travels in the data.
    pmHistorys_->clear();
    int number = 1;
    for (const HistoryEntry& entry : HistoryMenuEntries(model_.recentFolders)) {
        const int index = number++;
        if (!entry.visible) continue;
        QAction* action = pmHistorys_->addAction(Q(entry.caption));
        action->setObjectName(QStringLiteral("MnHistory%1").arg(index));
        action->setData(Q(entry.folder));
    }
}

void TMainForm::FormatBoxClick(FormatBox box, bool checked) {
    ShowConversionPage();
    session_.FormatBoxClick(box, checked);
    ModelChanged();
}

void TMainForm::ListCurrentChanged(ListSide side, int row) {
    if (syncing_) return;
    ModelSide(side).list.SetCurrentIndex(row);
    if (side == ListSide::Source) PublishSourceList(false);
    ShowPreview(side);
}

void TMainForm::ListSelectionChanged(ListSide side) {
    if (syncing_) return;
    ModelSide(side).list.SetSelectedFlags(Area(side).list->SelectedRows());
    if (side == ListSide::Source) PublishSourceList(false);
}

void TMainForm::ShowPreview(ListSide side) {
    const std::optional<std::string> toLoad = side == ListSide::Source
                                                  ? session_.Lists().ShowSourcePreview()
                                                  : session_.Lists().ShowTargetPreview();
    SyncFromModel();
    if (toLoad) LoadPreviewImage(side, *toLoad);
}

void TMainForm::LoadPreviewImage(ListSide side, const std::string& path) {
    ListArea& area = Area(side);
    area.previewPanel->show();
    previews_->Request(side, path, area.image->width(), area.image->height());
}

void TMainForm::ShowPreviewPicture(ListSide side, std::uint64_t request,
                                   const PreviewPicture& picture) {
    if (closing_ || request != previews_->Newest(side)) return;
    ListArea& area = Area(side);
    const QImage image = ToQImage(picture.bitmap);
    if (picture.hidePanel) {
        area.previewPanel->hide();
        ModelSide(side).previewPanelVisible = false;
        area.image->clear();
    } else if (image.isNull()) {
        // Unreadable: the image control goes, the panel stays.
        area.image->hide();
    } else {
        area.image->show();
    }
    const bool shown = !picture.hidePanel && !image.isNull();
    *area.loaded = image;
    area.image->setProperty("decodedWidth", image.width());
    area.image->setProperty("decodedHeight", image.height());
    area.image->setProperty(
        "reducedFrom", shown && (picture.width > image.width() || picture.height > image.height())
                           ? QByteArray::fromStdString(ModelSide(side).currentImage)
                           : QByteArray());
    ApplyStretch(side);
    area.sizeLabel->setText(T(PreviewSizeLabel(
        shown ? picture.width : 0, shown ? picture.height : 0, side == ListSide::Source)));
}

// A picture reduced for a smaller control is loaded again once the control outgrows it (the
// panel was just shown, the window or the splitter enlarged).
void TMainForm::PreviewControlResized(ListSide side) {
    ApplyStretch(side);
    ListArea& area = Area(side);
    const QByteArray reducedFrom = area.image->property("reducedFrom").toByteArray();
    if (reducedFrom.isEmpty() || closing_ ||
        (area.image->width() <= area.loaded->width() &&
         area.image->height() <= area.loaded->height()))
        return;
    area.image->setProperty("reducedFrom", QByteArray());
    LoadPreviewImage(side, reducedFrom.toStdString());
}

void TMainForm::ApplyStretch(ListSide side) {
    ListArea& area = Area(side);
    if (area.loaded->isNull()) {
        area.image->clear();
        return;
    }
    if (area.stretch->isChecked())
        area.image->setPixmap(QPixmap::fromImage(
            area.loaded->scaled(area.image->size().expandedTo(QSize(1, 1)), Qt::IgnoreAspectRatio,
                                Qt::SmoothTransformation)));
    else
        area.image->setPixmap(QPixmap::fromImage(*area.loaded));
}

bool TMainForm::ListKeyDown(ListSide side, QKeyEvent* key) {
    const bool source = side == ListSide::Source;
    switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            source ? LbDocListDblClick() : LbTargetDblClick();
            return true;
        case Qt::Key_Delete:
            source ? MnDeletePicClick() : MnDeleteFileOPClick();
            return true;
        case Qt::Key_F5:
            if (source)
                session_.Lists().RefreshSourceList();
            else
                session_.Lists().RefreshTargetList();
            SyncList(side);
            SyncFromModel();
            return true;
        case Qt::Key_A:
            if (key->modifiers() & Qt::ControlModifier) {
                ModelSide(side).list.SelectAll();
                SyncList(side);
                return true;
            }
            return false;
        default:
            return false;
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == gbConvertFormat_ && type == QEvent::MouseButtonPress) {
        ShowConversionPage();
        return false;
    }
    if (watched == source_.list || watched == target_.list) {
        const ListSide side = watched == source_.list ? ListSide::Source : ListSide::Target;
        if (type == QEvent::KeyPress) return ListKeyDown(side, static_cast<QKeyEvent*>(event));
        return false;
    }
    for (ListArea* area : {&source_, &target_}) {
        if (area->list != nullptr && watched == area->list->viewport()) {
            if (type == QEvent::MouseButtonPress) area->rowAtPress = area->list->currentRow();
            return false;
        }
    }
    if ((watched == source_.image || watched == target_.image) &&
        type == QEvent::MouseButtonDblClick) {
        watched == source_.image ? LbDocListDblClick() : LbTargetDblClick();
        return true;
    }
    if (watched == source_.image || watched == target_.image) {
        if (type == QEvent::Resize)
            PreviewControlResized(watched == source_.image ? ListSide::Source : ListSide::Target);
        return false;
    }
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit == nullptr) return QWidget::eventFilter(watched, event);
    return EditEvent(edit, event);
}

// The edits' clicks, keys and focus losses; true when the event is taken.
bool TMainForm::EditEvent(QLineEdit* edit, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress && (edit == edtWidth_ || edit == edtHeight_)) {
        // A click into the size edits selects their whole text.
        QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
        return false;
    }
    if (type == QEvent::KeyPress && edit == edtZoomPei_) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->text().isEmpty() || !key->text().at(0).isPrint()) return false;
        model_.edtZoomPei = S(edit->text());
        if (!session_.Resize().EdtZoomPeiKeyPress()) {
            SyncFromModel();
            return true;  // the key is discarded
        }
        return false;
    }
    if (type == QEvent::KeyPress && (edit == edtPath_ || edit == edtOutput_)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            const bool source = edit == edtPath_;
            (source ? model_.source : model_.target).editText = S(edit->text());
            if (source)
                session_.Lists().RefreshSourceList();
            else
                session_.Lists().RefreshTargetList();
            SyncList(source ? ListSide::Source : ListSide::Target);
            SyncFromModel();
            return true;
        }
        return false;
    }
    if (type == QEvent::FocusOut && !closing_) EditLeft(edit);
    return false;
}

// Typing, pasting and a screen reader's text change all end here. A change while the edit has
// no focus is a finished entry (no focus loss will follow it), so leaving's checks run at once.
void TMainForm::EditTextChanged(QLineEdit* edit) {
    if (syncing_ || closing_) return;
    if (!edit->hasFocus()) {
        EditLeft(edit);
        return;
    }
    const std::string text = S(edit->text());
    if (edit == edtWidth_) {
        model_.edtWidth = text;
    } else if (edit == edtHeight_) {
        model_.edtHeight = text;
    } else if (edit == edtZoomPei_) {
        model_.edtZoomPei = text;
    } else if (edit == edtRotate1_) {
        model_.edtRotate1 = text;
        return;
    } else if (edit == edtRotate2_) {
        model_.edtRotate2 = text;
        return;
    } else {
        (edit == edtPath_ ? model_.source.editText : model_.target.editText) = text;
        return;
    }
    ModelChanged();
}

// An edit lost the focus: its text goes to the model and the logic checks it.
void TMainForm::EditLeft(QLineEdit* edit) {
    if (edit == edtWidth_) {
        model_.edtWidth = S(edit->text());
        session_.Resize().EdtWidthExit();
    } else if (edit == edtHeight_) {
        model_.edtHeight = S(edit->text());
        session_.Resize().EdtHeightExit();
    } else if (edit == edtZoomPei_) {
        model_.edtZoomPei = S(edit->text());
        session_.Resize().EdtZoomPeiExit();
    } else if (edit == edtRotate1_) {
        model_.edtRotate1 = S(edit->text());
        session_.Rotation().EdtRoateRate1Exit();
    } else if (edit == edtRotate2_) {
        model_.edtRotate2 = S(edit->text());
        session_.Rotation().EdtRoateRate2Exit();
    } else if (edit == edtPath_) {
        model_.source.editText = S(edit->text());
    } else if (edit == edtOutput_) {
        model_.target.editText = S(edit->text());
    }
    ModelChanged();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The path edits fill the path panel beside its button box, less 20 pixels.
    pnlPath_->resize(width(), pnlPath_->height());
    const int editWidth = std::max(0, pnlPath_->width() - pnlPathButtons_->width() - 20);
    edtPath_->resize(editWidth, edtPath_->sizeHint().height());
    edtOutput_->resize(editWidth, edtOutput_->sizeHint().height());
}

void TMainForm::contextMenuEvent(QContextMenuEvent* event) { pmApp_->popup(event->globalPos()); }

std::filesystem::path TMainForm::HelpPagePath() const {
    for (const std::filesystem::path& folder : {helpFolder_, session_.ProgramFolder()}) {
        if (folder.empty()) continue;
        std::error_code ec;
        const std::filesystem::path page = folder / "Help.html";
        if (std::filesystem::is_regular_file(page, ec)) return page;
    }
    return {};
}

void TMainForm::FormShortCut() {
    // F1: the help page beside the program, in the desktop's browser.
    const std::filesystem::path page = HelpPagePath();
    if (!page.empty() && shell_) shell_->Open(page);
}

// --- the run -----------------------------------------------------------------------------

bool TMainForm::RunBusy() const { return session_.Run().State() != RunState::Idle; }

void TMainForm::BtnImgCovertClick(ClickClock::time_point madeAt) {
    if (closing_) return;
    PublishSourceList(true);
    session_.Run().BtnImgCovertClick(madeAt);
    const bool running = session_.Run().Status().buttonTag == 1;
    if (running)
        timerCheckExecute_->start();
    else
        timerCheckExecute_->stop();
    NameConvertButton(btnImgCovert_, running || session_.Run().Status().stopFace);
}

ConversionOptions TMainForm::Options() { return options_.Get(); }

void TMainForm::ShowMessage(const std::string& text) {
    if (closing_) return;  // answered at once: the window is going away
    QMessageBox box(QMessageBox::NoIcon, T(kApplicationTitle), T(text), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("MessageBox"));
    openMessage_ = &box;
    box.exec();
    openMessage_ = nullptr;
}

void TMainForm::StepProgress() {
    // The bar repaints at once on every visible change (several ms offscreen): the steps of
    // the next 40 ms are shown in one change, 25 changes a second at most.
    if (pendingSteps_++ == 0) QTimer::singleShot(40, this, [this] { ShowProgressSteps(); });
}

void TMainForm::ShowProgressSteps() {
    if (pendingSteps_ == 0) return;  // reset meanwhile
    int value = progressBar_->value();
    for (; pendingSteps_ > 0; --pendingSteps_) {
        value += kProgressStep;
        if (value > progressBar_->maximum()) value = 0;
    }
    progressBar_->setValue(value);
}

int TMainForm::EntryCount() { return model_.source.list.Count(); }
int TMainForm::CurrentIndex() { return model_.source.list.CurrentIndex(); }
bool TMainForm::IsSelected(int index) { return model_.source.list.IsSelected(index); }

std::string TMainForm::EntryText(int index) {
    const auto& entries = model_.source.list.Entries();
    return index >= 0 && index < static_cast<int>(entries.size())
               ? entries[static_cast<std::size_t>(index)]
               : std::string();
}

void TMainForm::FocusSourceList(bool selectFirst) {
    source_.list->setFocus();
    if (selectFirst && model_.source.list.Count() > 0) {
        model_.source.list.SetSelected(0, true);
        model_.source.list.SetCurrentIndex(0);
        SyncList(ListSide::Source);
    }
}

void TMainForm::RefreshTargetList() {
    session_.Lists().RefreshTargetList();
    SyncList(ListSide::Target);
    SyncFromModel();
}

void TMainForm::ShowConversionPage() { pageControl_->setCurrentIndex(0); }

void TMainForm::SetHint(const std::string& text) {
    // During a run the hint changes with every file, and each change lays out and repaints
    // the window (a fifth of the run's time on a fast batch): the last hint of each 100 ms is
    // shown, and the end of the run shows its own at once.
    if (progressShown_) {
        if (!pendingHint_) QTimer::singleShot(100, this, [this] { ShowPendingHint(); });
        pendingHint_ = text;
        return;
    }
    ShowHint(text);
}

void TMainForm::ShowPendingHint() {
    if (pendingHint_) ShowHint(*std::exchange(pendingHint_, std::nullopt));
}

void TMainForm::ShowHint(const std::string& text) {
    lblHint_->setText(T(text));
    lblHint_->setAccessibleName(lblHint_->text());
}

void TMainForm::ShowProgressBar(bool visible) {
    progressShown_ = visible;
    if (!visible) ShowPendingHint();
    progressBar_->setVisible(visible);
}

void TMainForm::ResetProgress() {
    pendingSteps_ = 0;
    progressBar_->setValue(0);
}

void TMainForm::SetStopFace(bool stopping) {
    if (stopping) timerCheckExecute_->stop();
    LoadButtonImage(btnImgCovert_, stopping ? "BtnStopImgConvert" : "BtnImgCovert");
    btnImgCovert_->setProperty("face", stopping ? "BtnStopImgConvert" : "BtnImgCovert");
    NameConvertButton(btnImgCovert_, stopping);
}

// The convert button's folder checks use the folder buttons' choosers.
void TMainForm::ChooseSourceFolder() { BtnSelectDirClick(); }

void TMainForm::ChooseTargetFolder() { BtnSelectSaveAsDirClick(); }

void TMainForm::AddRecentFolder(const std::string& folder) {
    if (model_.recentFolders.AddRecentFolder(folder)) SyncHistoryMenu();
}

void TMainForm::StoreLastSourceFolder(const std::string& folder) {
    session_.StoreLastSourceFolder(folder);
}

void TMainForm::ModelChangedElsewhere() {
    SyncList(ListSide::Source);
    SyncFromModel();
}

void TMainForm::Focus(FocusTarget target) {
    switch (target) {
        case FocusTarget::EdtPath:
            if (edtPath_->isVisible()) edtPath_->setFocus();
            break;
        case FocusTarget::EdtOutput:
            if (edtOutput_->isVisible()) edtOutput_->setFocus();
            break;
        case FocusTarget::EdtZoomPei:
            edtZoomPei_->setFocus();
            break;
    }
}

// --- closing -----------------------------------------------------------------------------

void TMainForm::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    closing_ = true;
    session_.Run().FormCloseQuery();
    timerCheckExecute_->stop();
    previews_->Cancel();
    // An open message is answered; a worker waiting for a message or a list read is
    // answered by the closed bridge at once from now on, and ends at its next stop check.
    if (openMessage_) openMessage_->done(QMessageBox::Ok);
    if (RunBusy()) session_.RunBridge().Close();
    hide();
    session_.Run().Wait();
    quickMenu_->Logic().StopAndWait();
    FormDestroy();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    Shutdown();
    event->accept();
}

}  // namespace ozm
