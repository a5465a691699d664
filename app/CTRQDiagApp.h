// The application object: start-up in its order, and the one main frame.
#pragma once

#include <QApplication>

#include <memory>

class CMainFrame;

class CTRQDiagApp : public QApplication {
    Q_OBJECT
public:
    CTRQDiagApp(int& argc, char** argv);
    ~CTRQDiagApp() override;

    // Start-up; false ends the program (the user has been told why).
    bool InitInstance();
    CMainFrame* mainFrame() const { return frame_.get(); }

private:
    std::unique_ptr<CMainFrame> frame_;
};

// Sockets need no start-up on POSIX; kept as its own step so its failure path stays.
bool InitSockets();
