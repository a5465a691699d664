// Input box bar: widgets and their control IDs; the Enter key in the edit presses "Enter".
#include "commands/CInputBoxBar.h"
#include "platform/DialogRunner.h"
#include "res/resource.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

namespace {
class LengthValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.size() <= CInputBoxBar::kMaxLineLength ? Acceptable : Invalid;
    }
};
} // namespace

CInputBoxBar::CInputBoxBar(QWidget* parent) : QDockWidget(parent) {
    setObjectName(QStringLiteral("InputBoxBar"));
    setWindowTitle(QStringLiteral("Input Box"));
    SetControlId(this, IDD_INPUTBOX);
    setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    // A dialog bar has no caption of its own.
    setTitleBarWidget(new QWidget(this));

    auto* body = new QWidget(this);
    auto* row = new QHBoxLayout(body);
    row->setContentsMargins(6, 4, 6, 4);

    edit_ = new QLineEdit(body);
    SetControlId(edit_, IDC_INPUT_EDIT);
    edit_->setMinimumWidth(260);
    edit_->setFont(QFont(QStringLiteral("Monospace")));
    edit_->setValidator(new LengthValidator(edit_));

    enter_ = new QPushButton(QStringLiteral("Enter"), body);
    SetControlId(enter_, IDC_INPUT_ENTER);
    enter_->setDefault(true);
    enter_->setAutoDefault(true);

    list_ = new QComboBox(body);
    SetControlId(list_, IDC_INPUT_COMMANDS);
    list_->setEditable(true);
    list_->setInsertPolicy(QComboBox::NoInsert);
    list_->setMinimumWidth(200);

    execute_ = new QPushButton(QStringLiteral("Execute"), body);
    SetControlId(execute_, IDC_INPUT_EXECUTE);

    row->addWidget(edit_, 2);
    row->addWidget(enter_);
    row->addSpacing(16);
    row->addWidget(list_, 1);
    row->addWidget(execute_);
    row->addStretch(1);
    setWidget(body);

    list_->hide();
    execute_->hide();

    connect(enter_, &QPushButton::clicked, this, &CInputBoxBar::enterClicked);
    connect(edit_, &QLineEdit::returnPressed, this, &CInputBoxBar::enterClicked);
    connect(execute_, &QPushButton::clicked, this, &CInputBoxBar::executeClicked);
    edit_->installEventFilter(this);
}

bool CInputBoxBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_ || event->type() != QEvent::KeyPress) return QDockWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
    std::string line;
    const bool moved = key == Qt::Key_Up
                           ? history_.Older(edit_->text().toLatin1().toStdString(), &line)
                           : history_.Newer(&line);
    if (moved) edit_->setText(QString::fromLatin1(line.c_str()));
    return true;
}

void CInputBoxBar::setCommandListVisible(bool visible) {
    list_->setVisible(visible);
    execute_->setVisible(visible);
}
