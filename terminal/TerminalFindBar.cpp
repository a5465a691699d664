// The find bar's controls and keys. GUI thread only.
#include "terminal/TerminalFindBar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>

TerminalFindBar::TerminalFindBar(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    edit_ = new QLineEdit(this);
    edit_->setPlaceholderText(QStringLiteral("Find"));
    edit_->setMinimumWidth(160);
    auto button = [this, row](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        row->addWidget(b);
        return b;
    };
    row->addWidget(edit_);
    QToolButton* prev = button(QStringLiteral("Previous"), QStringLiteral("Previous match (Shift+Enter)"));
    QToolButton* next = button(QStringLiteral("Next"), QStringLiteral("Next match (Enter)"));
    count_ = new QLabel(this);
    row->addWidget(count_);
    QToolButton* close = button(QStringLiteral("\u00d7"), QStringLiteral("Close (Esc)"));
    connect(next, &QToolButton::clicked, this, &TerminalFindBar::next);
    connect(prev, &QToolButton::clicked, this, &TerminalFindBar::previous);
    connect(close, &QToolButton::clicked, this, &TerminalFindBar::Close);
    connect(edit_, &QLineEdit::textEdited, this, &TerminalFindBar::textEdited);
    hide();
}

void TerminalFindBar::Open() {
    if (!isVisible()) {
        QWidget* f = QApplication::focusWidget();
        returnFocus_ = f && !isAncestorOf(f) ? f : nullptr;
    }
    adjustSize();
    show();
    raise();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
}

void TerminalFindBar::Close() {
    if (!isVisible()) return;
    const QPointer<QWidget> back = returnFocus_;
    hide();
    if (back) back->setFocus(Qt::OtherFocusReason);
    emit closed();
}

QString TerminalFindBar::Text() const { return edit_->text(); }

void TerminalFindBar::SetCount(int current, int total, bool more) {
    if (total > 0)
        count_->setText(QStringLiteral("%1 of %2%3").arg(current + 1).arg(total).arg(more ? QStringLiteral("+") : QString()));
    else count_->setText(edit_->text().isEmpty() ? QString() : QStringLiteral("No matches"));
    adjustSize();
}

void TerminalFindBar::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        Close();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & Qt::ShiftModifier) emit previous();
        else emit next();
        return;
    case Qt::Key_F3:
        if (event->modifiers() & Qt::ShiftModifier) emit previous();
        else emit next();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}
