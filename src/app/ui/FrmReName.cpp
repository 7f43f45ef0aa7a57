#include "app/ui/FrmReName.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"

namespace ozm {

TFrmReName::TFrmReName(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FrmReName"));
    setWindowTitle(T("更改名称"));
    setAccessibleName(T("更改名称"));
    setModal(true);

    auto* column = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(T("名称"), this);
    label->setObjectName(QStringLiteral("LblName"));
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("EdtName"));
    edit_->setAccessibleName(T("名称"));
    edit_->setMinimumWidth(260);
    label->setBuddy(edit_);
    row->addWidget(label);
    row->addWidget(edit_, 1);
    column->addLayout(row);

    auto* buttons = new QHBoxLayout;
    confirm_ = new QPushButton(T("确定"), this);
    confirm_->setObjectName(QStringLiteral("BtnOK"));
    confirm_->setAccessibleDescription(T("把图片改为输入的名称"));
    close_ = new QPushButton(T("关闭"), this);
    close_->setObjectName(QStringLiteral("BtnClose"));
    close_->setAccessibleDescription(T("不改名称，关闭窗口"));
    // Enter in the edit presses the default button.
    confirm_->setDefault(true);
    confirm_->setAutoDefault(true);
    close_->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(confirm_);
    buttons->addWidget(close_);
    column->addLayout(buttons);

    connect(confirm_, &QPushButton::clicked, this, &QDialog::accept);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
}

std::string TFrmReName::AskName(const std::string& name) {
    edit_->setText(Q(name));
    edit_->selectAll();  // typing replaces the whole name
    edit_->setFocus();
    if (exec() != QDialog::Accepted) return name;  // Esc and the close button
    return S(edit_->text());
}

}  // namespace ozm
