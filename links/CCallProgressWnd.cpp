// The call progress window.
#include "links/CCallProgressWnd.h"

#include "platform/DialogRunner.h"
#include "res/resource.h"

#include <QLabel>
#include <QPushButton>

namespace {
// 225 by 22 dialog units of the 8-point dialog font: text 200 wide, button 25.
constexpr int kUnitX = 3;  // pixels per two horizontal dialog units
constexpr int kUnitY = 13; // pixels per eight vertical dialog units
int X(int units) { return units * kUnitX / 2; }
int Y(int units) { return units * kUnitY / 8; }
} // namespace

CCallProgressWnd::CCallProgressWnd(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint) {
    SetControlId(this, IDD_CALL_PROGRESS);
    setModal(false);
    setFixedSize(X(225), Y(22));

    text_ = new QLabel(this);
    SetControlId(text_, IDC_PROGRESS_TEXT);
    text_->setAlignment(Qt::AlignCenter);
    text_->setFrameStyle(QFrame::Box | QFrame::Plain);
    text_->setGeometry(0, 0, X(200), Y(20));

    auto* hide = new QPushButton(QStringLiteral("Hide"), this);
    SetControlId(hide, IDCANCEL);
    hide->setAutoDefault(false);
    hide->setGeometry(X(200), 0, X(25), Y(20));
    connect(hide, &QPushButton::clicked, this, &CCallProgressWnd::reject);
}

void CCallProgressWnd::SetText(const QString& text) {
    text_->setText(text);
    emit textSet(text);
}

QString CCallProgressWnd::text() const { return text_->text(); }
