// pmxsim: plays the switch's maintenance port for the demo and for end-to-end tests.
// --pty: serves a pseudo-terminal and prints the path of its terminal end on stdout.
// --tcp PORT: serves Telnet connections on 127.0.0.1 and prints the port on stdout.
// --modem: the same pty with a Hayes modem in front of the switch (HayesModem.h).
// One thread: a poll loop over the transport, a signal pipe and the idle timer.
#include "tools/pmxsim/HayesModem.h"
#include "tools/pmxsim/LinePacer.h"
#include "tools/pmxsim/SwitchDialogue.h"
#include "tools/pmxsim/TcpServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    char c = 1;
    ssize_t r = ::write(g_signalPipe[1], &c, 1);
    (void)r;
    errno = saved;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: pmxsim [--pty | --tcp PORT] [--idle SECONDS] [--link PATH]\n"
                 "  --pty           serve a pseudo-terminal (default); its path goes to stdout\n"
                 "  --tcp PORT      serve Telnet on 127.0.0.1:PORT (0: a free one); the port goes to stdout\n"
                 "  --idle SECONDS  password prompt idle time before \"Canceled!\" (default 30)\n"
                 "  --link PATH     also make PATH a symbolic link to the terminal end\n"
                 "  --baud RATE     (pty, modem) send no faster than a serial line at RATE (8N1)\n"
                 "  --modem         a Hayes modem on the pty; the switch answers after CONNECT\n"
                 "  --busy NUMBER   (modem) dialling NUMBER answers BUSY; repeatable\n"
                 "  --no-answer NUMBER  (modem) dialling NUMBER answers NO CARRIER; repeatable\n"
                 "  --delayed NUMBER    (modem) dialling NUMBER answers DELAYED; repeatable\n"
                 "  --connect-delay MS  (modem) time from ATD to the result (default 400)\n"
                 "  --answer-after N    (modem) carriage returns before the switch wakes (default 1)\n"
                 "  --carrier-loss MS   (modem) a connected call drops MS after CONNECT (NO CARRIER)\n");
}

// The transport the dialogue talks through: one descriptor to poll, read and write.
class Transport {
public:
    virtual ~Transport() = default;
    virtual int Fd() const = 0;
    virtual std::string Describe() const = 0;
};

// A pty master. A descriptor of the terminal end stays open here, so the terminal
// end can be closed and opened again by the program under test without a hang-up.
class PtyTransport final : public Transport {
public:
    bool Open() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) return Fail("posix_openpt");
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return Fail("grantpt/unlockpt");
        char name[256];
        if (::ptsname_r(master_, name, sizeof name) != 0) return Fail("ptsname_r");
        path_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) return Fail("open terminal end");
        termios t{};
        if (::tcgetattr(slave_, &t) == 0) {
            ::cfmakeraw(&t);  // no echo of our own output back to us
            ::tcsetattr(slave_, TCSANOW, &t);
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        return true;
    }
    ~PtyTransport() override {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }
    int Fd() const override { return master_; }
    std::string Describe() const override { return path_; }

private:
    bool Fail(const char* what) {
        std::fprintf(stderr, "pmxsim: %s: %s\n", what, std::strerror(errno));
        return false;
    }
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

template <class Dialogue>
int Serve(Transport& transport, Dialogue& dialogue, long baud) {
    using Clock = pmxsim::SwitchDialogue::Clock;
    const int fd = transport.Fd();
    pmxsim::LinePacer pacer(baud);
    bool idle = true;  // nothing was waiting to go out
    std::string pending;  // pulled from the dialogue, not yet accepted by the transport
    size_t pendingPos = 0;
    char buf[65536];
    dialogue.Start(Clock::now(), /*greet=*/false);
    for (;;) {
        if (pendingPos == pending.size() && dialogue.HasOutput()) {
            size_t n = dialogue.Pull(buf, sizeof buf);
            pending.assign(buf, n);
            pendingPos = 0;
        }
        const bool pendingOut = pendingPos < pending.size();
        const size_t allowed = pendingOut ? pacer.Allowed(Clock::now(), idle) : 0;
        idle = !pendingOut;
        const bool wantOut = allowed > 0;
        int timeout = dialogue.MsUntilDue(Clock::now());
        if (pendingOut && !wantOut && (timeout < 0 || timeout > pacer.MsUntilNext())) timeout = pacer.MsUntilNext();
        pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0},
                         {fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0}};
        int r = ::poll(fds, 2, timeout);
        if (r < 0 && errno != EINTR) {
            std::perror("pmxsim: poll");
            return 1;
        }
        if (fds[0].revents & POLLIN) return 0;
        dialogue.Tick(Clock::now());
        if (r <= 0) continue;
        if (fds[1].revents & POLLIN) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) dialogue.Feed(buf, static_cast<size_t>(n), Clock::now());
        }
        if ((fds[1].revents & POLLOUT) && wantOut) {
            ssize_t n = ::write(fd, pending.data() + pendingPos, std::min(allowed, pending.size() - pendingPos));
            if (n > 0) {
                pendingPos += static_cast<size_t>(n);
                pacer.Sent(static_cast<size_t>(n));
            }
        }
        if (fds[1].revents & (POLLHUP | POLLERR)) {
            // No terminal end open (cannot last while we hold one): do not spin.
            ::poll(nullptr, 0, 50);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = "pty";
    std::string link;
    int tcpPort = 0;
    long baud = 0;
    pmxsim::SwitchDialogue::Options options;
    pmxsim::HayesModem::Options modem;
    auto count = [&](int& i, long max, long* out) {
        char* end = nullptr;
        long v = std::strtol(argv[++i], &end, 10);
        if (end == argv[i] || *end != '\0' || v < 0 || v > max) return false;
        *out = v;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        long v = 0;
        if (a == "--pty") {
            mode = "pty";
        } else if (a == "--tcp" && i + 1 < argc) {
            char* end = nullptr;
            const long p = std::strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || p < 0 || p > 65535) {
                Usage();
                return 2;
            }
            mode = "tcp";
            tcpPort = static_cast<int>(p);
        } else if (a == "--modem") {
            mode = "modem";
        } else if (a == "--busy" && i + 1 < argc) {
            modem.busy.insert(pmxsim::HayesModem::Digits(argv[++i]));
        } else if (a == "--no-answer" && i + 1 < argc) {
            modem.noAnswer.insert(pmxsim::HayesModem::Digits(argv[++i]));
        } else if (a == "--delayed" && i + 1 < argc) {
            modem.delayed.insert(pmxsim::HayesModem::Digits(argv[++i]));
        } else if (a == "--connect-delay" && i + 1 < argc) {
            if (!count(i, 600000, &v)) {
                Usage();
                return 2;
            }
            modem.connectDelay = std::chrono::milliseconds(v);
        } else if (a == "--carrier-loss" && i + 1 < argc) {
            if (!count(i, 600000, &v) || v < 1) {
                Usage();
                return 2;
            }
            modem.carrierLoss = std::chrono::milliseconds(v);
        } else if (a == "--answer-after" && i + 1 < argc) {
            if (!count(i, 1000, &v) || v < 1) {
                Usage();
                return 2;
            }
            modem.answerAfter = static_cast<int>(v);
        } else if (a == "--idle" && i + 1 < argc) {
            char* end = nullptr;
            double s = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(s >= 0) || s > 86400) {
                Usage();
                return 2;
            }
            options.idleCancel = std::chrono::milliseconds(static_cast<long long>(s * 1000));
        } else if (a == "--baud" && i + 1 < argc) {
            if (!count(i, 4000000, &v) || v < 50) {
                Usage();
                return 2;
            }
            baud = v;
        } else if (a == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else {
            Usage();
            return 2;
        }
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pmxsim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    if (mode == "tcp") return pmxsim::ServeTcp(tcpPort, options, g_signalPipe[0]);

    PtyTransport pty;
    if (!pty.Open()) return 1;
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(pty.Describe().c_str(), link.c_str()) != 0) {
            std::perror("pmxsim: symlink");
            return 1;
        }
    }
    std::printf("%s\n", pty.Describe().c_str());
    std::fflush(stdout);

    int rc;
    if (mode == "modem") {
        modem.switchOptions = options;
        pmxsim::HayesModem hayes(modem);
        rc = Serve(pty, hayes, baud);
    } else {
        pmxsim::SwitchDialogue dialogue(options);
        rc = Serve(pty, dialogue, baud);
    }
    if (!link.empty()) ::unlink(link.c_str());
    return rc;
}
