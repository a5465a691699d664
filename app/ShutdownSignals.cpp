// The self-pipe between the signal handlers and the GUI thread.
#include "app/ShutdownSignals.h"

#include "res/resource.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
std::atomic<int> g_writeFd{-1};

extern "C" void OnShutdownSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int fd = g_writeFd.load();
    if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
        // A full pipe already holds a wake-up.
    }
    errno = saved;
}
} // namespace

ShutdownSignals::ShutdownSignals(std::function<void(int)> action, QObject* parent)
    : QObject(parent), action_(std::move(action)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pmxdiag: signal pipe");
        return;
    }
    readFd_ = fds[0];
    g_writeFd.store(fds[1]);
    notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::readPipe);
    struct sigaction sa{};
    sa.sa_handler = OnShutdownSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int s : kSignals) ::sigaction(s, &sa, nullptr);
}

ShutdownSignals::~ShutdownSignals() {
    if (!notifier_) return;
    for (int s : kSignals) ::signal(s, SIG_DFL);
    const int writeFd = g_writeFd.exchange(-1);
    delete notifier_;
    ::close(readFd_);
    ::close(writeFd);
}

void ShutdownSignals::readPipe() {
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(readFd_, bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            if (action_) action_(bytes[i]);
}

QuietMessages::QuietMessages() : previous_(MessageService::get()) { MessageService::install(this); }

QuietMessages::~QuietMessages() { MessageService::install(&previous_); }

int QuietMessages::messageBox(const std::string& text, const std::string&, MsgIcon, MsgButtons buttons) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "pmxdiag: %s\n", line.c_str());
    switch (buttons) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return IDYES;
    case MsgButtons::RetryCancel: return IDRETRY;
    default: return IDOK;
    }
}
