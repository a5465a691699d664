// QMessageBox/QFileDialog behind the message service. A box asked for on another
// thread is shown on the GUI thread while the asking thread waits.
#include "platform/QtMessageService.h"
#include "platform/GuiThread.h"
#include "res/resource.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

namespace {
QPointer<QWidget> g_parent;

QMessageBox::Icon toQtIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Question: return QMessageBox::Question;
    default: return QMessageBox::NoIcon;
    }
}

int showBox(const std::string& text, const std::string& title, MsgIcon icon, MsgButtons buttons) {
    QMessageBox box(toQtIcon(icon), QString::fromLatin1(title.c_str()),
                    QString::fromLatin1(text.c_str()), QMessageBox::NoButton, g_parent.data());
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case MsgButtons::RetryCancel: box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel); break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Retry: return IDRETRY;
    default: return (buttons == MsgButtons::Ok) ? IDOK : (buttons == MsgButtons::YesNo ? IDNO : IDCANCEL);
    }
}
} // namespace

void QtMessageService::setParentWindow(QWidget* parent) { g_parent = parent; }

QString ConvertFileFilter(const std::string& filter) {
    const QStringList parts = QString::fromLatin1(filter.c_str()).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        out << parts[i];
    }
    return out.join(QStringLiteral(";;"));
}

int QtMessageService::messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                 MsgButtons buttons) {
    int answer = IDCANCEL;
    SendToGui([&] { answer = showBox(text, title, icon, buttons); });
    return answer;
}

std::optional<std::string> QtMessageService::saveFileName(const SaveFileRequest& request) {
    std::optional<std::string> result;
    SendToGui([&] {
        QFileDialog dlg(g_parent.data(), QString::fromLatin1(request.title.c_str()));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setNameFilter(ConvertFileFilter(request.filter));
        dlg.setDefaultSuffix(QString::fromLatin1(request.defaultExt.c_str()));
        if (!request.overwritePrompt) dlg.setOption(QFileDialog::DontConfirmOverwrite);
        if (!request.initialName.empty()) dlg.selectFile(QString::fromLocal8Bit(request.initialName.c_str()));
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
            result = dlg.selectedFiles().first().toLocal8Bit().toStdString();
    });
    return result;
}

std::optional<std::string> QtMessageService::openFileName(const SaveFileRequest& request) {
    std::optional<std::string> result;
    SendToGui([&] {
        QFileDialog dlg(g_parent.data(), QString::fromLatin1(request.title.c_str()));
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setNameFilter(ConvertFileFilter(request.filter));
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
            result = dlg.selectedFiles().first().toLocal8Bit().toStdString();
    });
    return result;
}
