// The simulator's Telnet side: its offers, how it takes the terminal's answers,
// IAC in both directions, and the TCP server with several terminals at once.
#include "tools/pmxsim/FloodPattern.h"
#include "tools/pmxsim/TelnetSession.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using pmxsim::TelnetSession;

const std::string kOffers("\xff\xfd\x18\xff\xfb\x01\xff\xfb\x03");
const std::string kAskName("\xff\xfa\x18\x01\xff\xf0");

std::string PullAll(TelnetSession& s) {
    std::string out;
    char buf[7];  // small on purpose: escaping must survive being split
    while (s.HasOutput()) out.append(buf, s.Pull(buf, sizeof buf));
    return out;
}

struct Session {
    TelnetSession s{pmxsim::SwitchDialogue::Options{}};
    Session() {
        s.Open(TelnetSession::Clock::now());
        PullAll(s);
    }
    std::string send(const std::string& bytes) {
        s.Receive(bytes.data(), bytes.size(), TelnetSession::Clock::now());
        return PullAll(s);
    }
};

TEST(TelnetSession, OpensWithItsThreeOffersAndWaitsForTheTerminal) {
    TelnetSession s{pmxsim::SwitchDialogue::Options{}};
    s.Open(TelnetSession::Clock::now());
    EXPECT_EQ(PullAll(s), kOffers);
    EXPECT_FALSE(s.NegotiationSettled());
}

struct AnswerCase {
    const char* name;
    std::string in;
    std::string reply;
    int terminalType, echo, sga, refused;
};

TEST(TelnetSession, TakesTheTerminalsAnswers) {
    const AnswerCase cases[] = {
        {"will terminal type asks the name once", "\xff\xfb\x18\xff\xfb\x18", kAskName, 1, -1, -1, 0},
        {"wont terminal type", "\xff\xfc\x18", "", 0, -1, -1, 0},
        {"do echo is the answer to our offer", "\xff\xfd\x01", "", -1, 1, -1, 0},
        {"echo switched off later is acknowledged", "\xff\xfd\x01\xff\xfe\x01",
         std::string("\xff\xfc\x01"), -1, 0, -1, 0},
        {"refused go-ahead suppression needs no answer", "\xff\xfe\x03", "", -1, -1, 0, 0},
        {"other requests declined", std::string("\xff\xfd\x05\xff\xfb\x1f\xff\xfc\x07\xff\xfe\x00", 12),
         "\xff\xfc\x05\xff\xfe\x1f", -1, -1, -1, 2},
        {"split over reads", "\xff", "", -1, -1, -1, 0},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session t;
        EXPECT_EQ(t.send(c.in), c.reply);
        EXPECT_EQ(t.s.answers().terminalType, c.terminalType);
        EXPECT_EQ(t.s.answers().echo, c.echo);
        EXPECT_EQ(t.s.answers().suppressGoAhead, c.sga);
        EXPECT_EQ(t.s.answers().refusedByUs, c.refused);
    }
}

TEST(TelnetSession, TheProgramsAnswersSettleTheNegotiation) {
    Session t;
    EXPECT_EQ(t.send("\xff\xfb"), "");
    EXPECT_EQ(t.send("\x18"), kAskName);  // a command split between reads
    t.send(std::string("\xff\xfa\x18\x00VT100\xff\xf0", 11));
    t.send("\xff\xfd\x01\xff\xfe\x03");
    EXPECT_TRUE(t.s.NegotiationSettled());
    EXPECT_EQ(t.s.answers().terminalName, "VT100");
    EXPECT_EQ(t.s.Summary(), "terminal type \"VT100\", echo accepted, suppress-go-ahead refused");
}

TEST(TelnetSession, SubnegotiationsItDoesNotKnowAreReadToTheirEnd) {
    Session t;
    t.send("\xff\xfa\x05\x01\x02\xff\xff\x03\xff\xf0");
    t.send("\xff\xfa\x18" + std::string(5000, 'A') + "\xff\xf0");
    EXPECT_EQ(t.s.answers().malformed, 2);
    EXPECT_EQ(t.s.answers().terminalName, "");
    // The stream is back in data: a carriage return brings the greeting.
    EXPECT_NE(t.send("\r").find("PASSWORD:"), std::string::npos);
}

TEST(TelnetSession, DataByte255IsUnescapedInAndEscapedOut) {
    Session t;
    EXPECT_NE(t.send("\r").find("PASSWORD:"), std::string::npos);
    EXPECT_NE(t.send("velmod\r").find("maint>"), std::string::npos);
    // NOP and DM between the data bytes carry nothing.
    const std::string out = t.send("a\xff\xff\xff\xf1" "b\xff\xf2\r");
    EXPECT_NE(out.find("?? Unknown command: a\xff\xff" "b\r\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("\xff\xf1"), std::string::npos);
}

// A terminal over TCP, with a deadline on every read.
class Terminal {
public:
    explicit Terminal(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Terminal() { ::close(fd_); }
    bool ok() const { return ok_; }
    void forget() { got_.clear(); }
    void send(const std::string& s) { ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL); }
    // Reads until the text holds want (or 5 s pass); returns everything read.
    std::string readUntil(const std::string& want) {
        while (got_.find(want) == std::string::npos) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            got_.append(buf, static_cast<size_t>(n));
        }
        return got_;
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::string got_;
};

TEST(PmxsimTcp, ServesTerminalsAtOnceAndOneAfterAnother) {
    TempDir dir;
    SimProcess sim(PMXSIM_PATH, dir.file("sim.log"));
    ASSERT_GT(sim.port(), 0);
    {
        Terminal a(sim.port()), b(sim.port());
        ASSERT_TRUE(a.ok() && b.ok());
        EXPECT_EQ(a.readUntil(kOffers).substr(0, kOffers.size()), kOffers);
        EXPECT_EQ(b.readUntil(kOffers).substr(0, kOffers.size()), kOffers);
        a.send("\xff\xfb\x18");
        EXPECT_NE(a.readUntil(kAskName).find(kAskName), std::string::npos);
        a.send(std::string("\xff\xfa\x18\x00VT100\xff\xf0\xff\xfd\x01\xff\xfe\x03\r", 18));
        b.send("\r");
        EXPECT_NE(a.readUntil("PASSWORD:").find("PASSWORD:"), std::string::npos);
        EXPECT_NE(b.readUntil("PASSWORD:").find("PASSWORD:"), std::string::npos);
        a.send("velmod\r");
        b.send("quarth\r");
        EXPECT_NE(a.readUntil("maint>").find("maint>"), std::string::npos);
        EXPECT_NE(b.readUntil("mon>").find("mon>"), std::string::npos);
    }
    for (int i = 0; i < 3; ++i) {
        Terminal c(sim.port());
        ASSERT_TRUE(c.ok());
        c.send("\r");
        EXPECT_NE(c.readUntil("PASSWORD:").find("PASSWORD:"), std::string::npos);
    }
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_NE(sim.log().find("connection 1 negotiated: terminal type \"VT100\""), std::string::npos)
        << sim.log();
}

TEST(PmxsimTcp, AFloodArrivesWholeAndInOrder) {
    TempDir dir;
    SimProcess sim(PMXSIM_PATH, dir.file("sim.log"));
    ASSERT_GT(sim.port(), 0);
    Terminal t(sim.port());
    t.send("\r");
    t.readUntil("PASSWORD:");
    t.send("velmod\r");
    t.readUntil("maint>");
    t.forget();
    t.send("flood 500000\r");
    const std::string all = t.readUntil("maint>");
    // The echoed command, every flood byte, the prompt: nothing lost or doubled.
    EXPECT_EQ(all.size(), std::string("flood 500000\r\n").size() + 500000 + std::string("\r\nmaint>").size());
    // Every byte is the pattern's, whatever block it was filled in.
    const size_t start = std::string("flood 500000\r\n").size();
    size_t bad = 0;
    for (size_t i = 0; i < 500000 && start + i < all.size(); ++i)
        if (all[start + i] != pmxsim::FloodByte(i)) ++bad;
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(sim.stop(), 0);
}

} // namespace
