// Start-up: sockets, settings key, the frame (which loads "CmdConf.txt"), the
// command line, then the window at its normal size.
#include "app/CTRQDiagApp.h"

#include "app/CMainFrame.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "platform/QtMessageService.h"
#include "platform/QtProfile.h"

#include <QStringList>

namespace {
QtMessageService g_messages;
QtProfile g_profile;
} // namespace

bool InitSockets() { return true; }

CTRQDiagApp::CTRQDiagApp(int& argc, char** argv) : QApplication(argc, argv) {}

CTRQDiagApp::~CTRQDiagApp() {
    frame_.reset();
    MessageService::install(nullptr);
    Profile::install(nullptr);
}

bool CTRQDiagApp::InitInstance() {
    MessageService::install(&g_messages);

    if (!InitSockets()) {
        ShowMessage("Windows sockets initialization failed.");
        return false;
    }

    setOrganizationName(QStringLiteral("TRQ PC Applications"));
    setApplicationName(QStringLiteral("PMXDiag"));
    Profile::install(&g_profile);

    frame_ = std::make_unique<CMainFrame>();
    QtMessageService::setParentWindow(frame_.get());
    if (!frame_->OnCreate()) {
        frame_.reset();
        return false;
    }

    const QStringList args = arguments();
    if (args.size() > 1) {
        if (!frame_->OpenDocumentFile(args[1].toLocal8Bit().toStdString())) {
            ShowMessage("Failed to open document.", "", MsgIcon::Warning);
            frame_.reset();
            return false;
        }
    }

    frame_->show();
    return true;
}
