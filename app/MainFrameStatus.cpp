// The status bar's standing panes (link, access level, capture) and its notices, and
// what the frame does when a link ends by itself. All on the GUI thread.
#include "app/CMainFrame.h"
#include "app/ModemFrameLink.h"

#include "platform/Profile.h"
#include "commands/CCommandBar.h"
#include "links/CModemLink.h"
#include "links/CSerialLink.h"
#include "links/IsdnNumbers.h"
#include "terminal/CTRQDiagView.h"

#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <chrono>

namespace {
const QString kReady = QStringLiteral("Ready");
const QString kNotConnected = QStringLiteral("Not connected");

qint64 NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString Elapsed(qint64 ms) {
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}
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
        if (m.isEmpty()) sb->showMessage(notice_.isEmpty() ? kReady : notice_);
    });
    refreshStatusPanes();
}

void CMainFrame::ShowNotice(const QString& text) {
    notice_ = text;
    statusBar()->showMessage(text.isEmpty() ? kReady : text);
}

void CMainFrame::ClearNotice(const QString& onlyIf) {
    if (onlyIf.isEmpty() || onlyIf == notice_) ShowNotice(QString());
}

void CMainFrame::ShowStatusMessage(const QString& text) { statusBar()->showMessage(text); }
QString CMainFrame::statusMessage() const { return statusBar()->currentMessage(); }
void CMainFrame::ClearStatusMessage() { statusBar()->clearMessage(); }

QString CMainFrame::statusPaneText(StatusPane pane) const {
    const QLabel* label = pane == StatusPane::Link     ? linkPane_
                          : pane == StatusPane::Access ? accessPane_
                                                       : capturePane_;
    return label ? label->text() : QString();
}

QString CMainFrame::describeLink(LinkKind kind, QString* detail) const {
    switch (kind) {
    case LinkKind::Serial: {
        int port = 0, baud = 0, bits = 0, stop = 0, parity = 0;
        unsigned char flow = 0;
        serialLink()->GetSettings(&port, &baud, &bits, &stop, &parity, &flow);
        // The device's name only: the pane must leave the message area room; the
        // whole path is in the pane's tool tip.
        const QString path = QString::fromLocal8Bit(CSerialLink::DevicePath(port).c_str());
        if (detail) *detail = path;
        return QStringLiteral("Serial COM%1 (%2)").arg(port + 1).arg(QFileInfo(path).fileName());
    }
    case LinkKind::Modem:
        return QStringLiteral("Modem ") + QString::fromLatin1(modem_->link().GetDestination().c_str());
    case LinkKind::Lan:
        return QStringLiteral("LAN ") +
               QString::fromLatin1(Profile::get().getString("Server", "History %c", "").c_str());
    case LinkKind::Isdn:
        return QStringLiteral("ISDN ") + QString::fromLatin1(ReadStoredIsdnNumber().c_str());
    }
    return QString();
}

void CMainFrame::followLinkState() {
    const std::atomic<int>* flags[] = {&linkFlag(LinkKind::Serial), &linkFlag(LinkKind::Modem), &linkFlag(LinkKind::Lan),
                                       &linkFlag(LinkKind::Isdn)};
    int kind = -1;
    for (int k = 0; k < 4 && kind < 0; ++k)
        if (*flags[k]) kind = k;
    if (kind == paneLinkKind_) return;
    const bool ended = paneLinkKind_ >= 0;
    paneLinkKind_ = kind;
    if (kind >= 0) {
        // A link is up again: what the notice said no longer holds.
        ClearNotice();
        QString detail;
        paneLinkText_ = describeLink(static_cast<LinkKind>(kind), &detail);
        if (linkPane_) linkPane_->setToolTip(detail);
        linkSinceMs_ = NowMs();
        if (linkClock_) linkClock_->start();
        return;
    }
    if (linkClock_) linkClock_->stop();
    // However the link ended, the level the switch granted ended with it: the command
    // bar and the Commands menu must not offer it, now or at the next connection.
    if (ended && view_ && accessMode() != AccessMode::None) {
        view_->Matcher().ClearAccess();
        emit accessModeChanged();
        hideCommandBarOnLogOut();
    }
}

void CMainFrame::refreshLinkPane() {
    if (!linkPane_) return;
    linkPane_->setText(paneLinkKind_ < 0
                           ? kNotConnected
                           : paneLinkText_ + QStringLiteral(", up ") + Elapsed(NowMs() - linkSinceMs_));
}

void CMainFrame::refreshStatusPanes() {
    refreshLinkPane();
    if (accessPane_) {
        const AccessMode mode = view_ ? accessMode() : AccessMode::None;
        accessPane_->setText(mode == AccessMode::Maintenance ? QStringLiteral("Access: maintenance")
                             : mode == AccessMode::Monitor   ? QStringLiteral("Access: monitor")
                                                             : QStringLiteral("Access: none"));
    }
    if (capturePane_) {
        const QString path = captureRunning() ? QString::fromLocal8Bit(trace_.path().c_str()) : QString();
        capturePane_->setText(path.isEmpty() ? QStringLiteral("Capture off")
                                             : QStringLiteral("Capture: ") + QFileInfo(path).fileName());
        capturePane_->setToolTip(path);
    }
}

void CMainFrame::OnLinkEnded(const QString& notice) {
    // Answers that can no longer come are not waited for.
    StopResponseTimer();
    StopWakeupTimer();
    updateCommandUi();
    ShowNotice(notice);
}
