// The status bar's standing panes (link, access level, capture) and its message area,
// which shows the session's notice. All on the GUI thread.
#include "app/CMainFrame.h"

#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace {
const QString kReady = QStringLiteral("Ready");
} // namespace

void CMainFrame::buildStatusPanes() {
    QStatusBar* sb = statusBar();
    // Each pane as wide as its text: what is left is the message area's, so that a
    // notice stays readable at the smallest window size.
    auto pane = [sb](const char* name) {
        auto* l = new QLabel(sb);
        l->setObjectName(QString::fromLatin1(name));
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        sb->addPermanentWidget(l);
        return l;
    };
    linkPane_ = pane("linkPane");
    accessPane_ = pane("accessPane");
    capturePane_ = pane("capturePane");
    linkClock_ = new QTimer(this);
    linkClock_->setInterval(1000);
    connect(linkClock_, &QTimer::timeout, this, &CMainFrame::refreshLinkPane);
    // Prompts and passing messages give way to the standing notice, not to "Ready".
    connect(sb, &QStatusBar::messageChanged, this, [this, sb](const QString& m) {
        if (m.isEmpty()) {
            const QString notice = session_->notice();
            sb->showMessage(notice.isEmpty() ? kReady : notice);
        }
    });
    refreshStatusPanes();
}

void CMainFrame::noticeChanged(const QString& notice) { statusBar()->showMessage(notice.isEmpty() ? kReady : notice); }
void CMainFrame::showMessage(const QString& text) { statusBar()->showMessage(text); }
QString CMainFrame::message() const { return statusBar()->currentMessage(); }
void CMainFrame::clearMessage() { statusBar()->clearMessage(); }

void CMainFrame::refreshLinkPane() {
    if (!linkPane_) return;
    QString detail;
    const QString text = session_->linkText(&detail);
    linkPane_->setText(text);
    // Held at the size its text needs: the clock's next second then repaints the pane
    // alone, where a pane free to resize lays out and repaints the whole status bar.
    const QSize fits = linkPane_->sizeHint();
    if (linkPane_->minimumSize() != fits || linkPane_->maximumSize() != fits) linkPane_->setFixedSize(fits);
    // The device's whole path is in the tool tip: the pane must leave the message area room.
    linkPane_->setToolTip(detail);
    const bool up = session_->IsAnyLinkConnected();
    if (up && !linkClock_->isActive()) linkClock_->start();
    else if (!up && linkClock_->isActive()) linkClock_->stop();
}

void CMainFrame::refreshStatusPanes() {
    refreshLinkPane();
    if (accessPane_) {
        const AccessMode mode = session_->accessMode();
        accessPane_->setText(mode == AccessMode::Maintenance ? QStringLiteral("Access: maintenance")
                             : mode == AccessMode::Monitor   ? QStringLiteral("Access: monitor")
                                                             : QStringLiteral("Access: none"));
    }
    if (capturePane_) {
        const QString path = QString::fromLocal8Bit(session_->capturePath().c_str());
        capturePane_->setText(path.isEmpty() ? QStringLiteral("Capture off")
                                             : QStringLiteral("Capture: ") + QFileInfo(path).fileName());
        capturePane_->setToolTip(path);
    }
}
