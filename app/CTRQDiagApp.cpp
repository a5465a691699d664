// Start-up: sockets, settings key, the frame (which loads "CmdConf.txt"), the
// command line, then the window at its normal size.
#include "app/CTRQDiagApp.h"

#include "app/CMainFrame.h"
#include "app/ShutdownSignals.h"
#include "platform/MessageService.h"
#include "platform/Profile.h"
#include "platform/QtMessageService.h"
#include "platform/QtProfile.h"

#include <cstdio>

namespace {
QtMessageService g_messages;
QtProfile g_profile;
} // namespace

bool InitSockets() { return true; }

CTRQDiagApp::CTRQDiagApp(int& argc, char** argv) : QApplication(argc, argv) {}

CTRQDiagApp::~CTRQDiagApp() {
    shutdown_.reset();
    frame_.reset();
    MessageService::install(nullptr);
    Profile::install(nullptr);
}

bool CTRQDiagApp::InitInstance(const std::string& file) {
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
    // From here on a log-out or shut-down ends the session as File > Exit does.
    // exit() rather than quit(): it also ends a modal box's loop, and works before
    // the main loop has started (a box of the start-up itself).
    shutdown_ = std::make_unique<ShutdownSignals>([this](int) {
        shutdownRequested_ = true;
        if (frame_) frame_->CloseWithoutQuestions();
        QCoreApplication::exit(0);
    });

    if (!file.empty()) {
        if (!frame_->OpenDocumentFile(file)) {
            std::fprintf(stderr, "pmxdiag: cannot read '%s'\n", file.c_str());
            ShowMessage("Failed to open document.", "", MsgIcon::Warning);
            frame_.reset();
            return false;
        }
    }

    if (shutdownRequested_) return false;
    frame_->show();
    return true;
}
