// The application object: start-up in its order, and the one main frame.
#pragma once

#include <QApplication>

#include <memory>
#include <string>

class CMainFrame;
class ShutdownSignals;

class CTRQDiagApp : public QApplication {
    Q_OBJECT
public:
    CTRQDiagApp(int& argc, char** argv);
    ~CTRQDiagApp() override;

    // Start-up; false ends the program (the user has been told why). file, when not
    // empty, is the document to open.
    bool InitInstance(const std::string& file = std::string());
    CMainFrame* mainFrame() const { return frame_.get(); }
    // A signal ended the program (cleanly; not a failure).
    bool shutdownRequested() const { return shutdownRequested_; }

private:
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<ShutdownSignals> shutdown_;
    bool shutdownRequested_ = false;
};

// Sockets need no start-up on POSIX; kept as its own step so its failure path stays.
bool InitSockets();
