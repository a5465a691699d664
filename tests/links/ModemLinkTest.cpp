// The modem link and the telephony layer against the simulator playing a Hayes modem:
// call states from result codes, events only while pumped, the port handed over,
// hang-up, the unavailable layer, the modem list and its limits, and call cycles
// that must not leak threads or descriptors.
#include "tests/links/ModemTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using linktest::RecordingSink;
using linktest::SimProcess;
using namespace modemtest;

namespace {

std::mutex g_eventsMutex;
std::vector<std::pair<DWORD, DWORD>> g_events;  // message, param1

void Record(DWORD, DWORD message, uintptr_t, uintptr_t p1, uintptr_t, uintptr_t) {
    std::lock_guard l(g_eventsMutex);
    g_events.emplace_back(message, static_cast<DWORD>(p1));
}

std::vector<DWORD> CallStates() {
    std::lock_guard l(g_eventsMutex);
    std::vector<DWORD> states;
    for (auto [m, p] : g_events)
        if (m == LINE_CALLSTATE) states.push_back(p);
    return states;
}

class TelephonyTest : public ::testing::Test {
protected:
    void SetUp() override {
        Profile::install(&profile);
        SetTelephonyAvailable(true);
        std::lock_guard l(g_eventsMutex);
        g_events.clear();
    }
    void TearDown() override {
        SetTelephonyAvailable(true);
        SetLineConfigHook(nullptr);
        Profile::install(nullptr);
    }
    // Pumps until the call state arrives (or gives up after a few seconds).
    bool PumpUntil(HLINEAPP app, DWORD state) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < until) {
            linePumpMessage(app, 50);
            auto s = CallStates();
            if (std::find(s.begin(), s.end(), state) != s.end()) return true;
        }
        return false;
    }
    MemoryProfile profile;
};

class ModemLinkTest : public TelephonyTest {};

} // namespace

TEST_F(TelephonyTest, UnavailableLayerAnswersEveryLineFunctionWithOperationUnavail) {
    SetTelephonyAvailable(false);
    const LONG unavail = AsResult(LINEERR_OPERATIONUNAVAIL);
    HLINEAPP app = 0;
    HLINE line = 0;
    HCALL call = 0;
    DWORD n = 0, v = 0, e = 0;
    LINEDEVCAPS caps{};
    caps.dwTotalSize = sizeof caps;
    VARSTRING vs{};
    vs.dwTotalSize = sizeof vs;
    EXPECT_EQ(lineInitialize(&app, nullptr, Record, nullptr, &n), unavail);
    EXPECT_EQ(lineShutdown(1), unavail);
    EXPECT_EQ(lineNegotiateAPIVersion(1, 0, kLowestApiVersion, kHighestApiVersion, &v, &e), unavail);
    EXPECT_EQ(lineGetDevCaps(1, 0, v, 0, &caps), unavail);
    EXPECT_EQ(lineOpen(1, 0, &line, v, 0, 0, LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM, nullptr), unavail);
    EXPECT_EQ(lineMakeCall(1, &call, "123", 0, nullptr), unavail);
    EXPECT_EQ(lineGetID(0, 0, 1, LINECALLSELECT_CALL, &vs, "comm/datamodem"), unavail);
    EXPECT_EQ(lineGetStatusMessages(1, &v, &e), unavail);
    EXPECT_EQ(lineSetStatusMessages(1, 0, 0), unavail);
    EXPECT_EQ(lineDrop(1, nullptr, 0), unavail);
    EXPECT_EQ(lineClose(1), unavail);
    EXPECT_EQ(lineDeallocateCall(1), unavail);
    EXPECT_EQ(lineConfigDialog(0, nullptr, nullptr), unavail);
}

TEST_F(TelephonyTest, CallStatesFollowResultCodesAndArriveOnlyWhenPumped) {
    SimProcess sim = StartModem({"--busy", "555-0001", "--no-answer", "555 0002", "--delayed", "5550003"});
    ASSERT_TRUE(sim.ok());
    OfferModems(profile, {sim.path()});
    // Words, then echo with numeric result codes: the same call states (but for the
    // ringing, which has no number).
    for (const char* init : {"ATZ", "ATZE1V0"}) {
        SCOPED_TRACE(init);
        profile.writeString(telephony::kSection, "Init0", init);
        struct Case {
            const char* number;
            std::vector<DWORD> states;
        };
        const Case cases[] = {
            {"0221 555 0100", {LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                               LINECALLSTATE_CONNECTED}},
            {"5550001", {LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_BUSY,
                         LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}},
            {"555-0002", {LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                          LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}},
            {"5550003", {LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_DISCONNECTED,
                         LINECALLSTATE_IDLE}},
        };
        for (Case c : cases) {
            SCOPED_TRACE(c.number);
            if (std::string(init).find("V0") != std::string::npos)
                std::erase(c.states, LINECALLSTATE_RINGBACK);
            {
                std::lock_guard l(g_eventsMutex);
                g_events.clear();
            }
            HLINEAPP app = 0;
            DWORD devices = 0;
            ASSERT_EQ(lineInitialize(&app, nullptr, Record, nullptr, &devices), 0);
            ASSERT_EQ(devices, 1u);
            HLINE line = 0;
            ASSERT_EQ(lineOpen(app, 0, &line, kHighestApiVersion, 0, 0, LINECALLPRIVILEGE_NONE,
                               LINEMEDIAMODE_DATAMODEM, nullptr), 0);
            HCALL call = 0;
            ASSERT_GT(lineMakeCall(line, &call, c.number, 0, nullptr), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            EXPECT_TRUE(CallStates().empty()) << "no event without a pump";
            ASSERT_TRUE(PumpUntil(app, c.states.back()));
            EXPECT_EQ(CallStates(), c.states);
            EXPECT_GT(lineDrop(call, nullptr, 0), 0);
            EXPECT_EQ(lineClose(line), 0);
            EXPECT_EQ(lineShutdown(app), 0);
            EXPECT_EQ(linePumpMessage(app, 0), AsResult(LINEERR_INVALAPPHANDLE));
        }
    }
}

TEST_F(TelephonyTest, ConnectedCallHandsOverItsPortAndHangsUpByEscapeAndAth) {
    SimProcess sim = StartModem();
    ASSERT_TRUE(sim.ok());
    OfferModems(profile, {sim.path()});
    for (int round = 0; round < 2; ++round) {  // the modem is back in command mode after the drop
        SCOPED_TRACE(round);
        // The second round hangs up a modem that echoes and answers in numbers.
        profile.writeString(telephony::kSection, "Init0", round == 0 ? "ATZ" : "ATE1V0");
        {
            std::lock_guard l(g_eventsMutex);
            g_events.clear();
        }
        HLINEAPP app = 0;
        DWORD devices = 0;
        ASSERT_EQ(lineInitialize(&app, nullptr, Record, nullptr, &devices), 0);
        HLINE line = 0;
        ASSERT_EQ(lineOpen(app, 0, &line, kHighestApiVersion, 0, 0, LINECALLPRIVILEGE_NONE,
                           LINEMEDIAMODE_DATAMODEM, nullptr), 0);
        HCALL call = 0;
        ASSERT_GT(lineMakeCall(line, &call, "0611 555 8800", 0, nullptr), 0);
        VARSTRING early{};
        early.dwTotalSize = sizeof early;
        EXPECT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, &early, "comm/datamodem"),
                  AsResult(LINEERR_INVALCALLSTATE));
        ASSERT_TRUE(PumpUntil(app, LINECALLSTATE_CONNECTED));

        VARSTRING small{};
        small.dwTotalSize = sizeof small;
        ASSERT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, &small, "comm/datamodem"), 0);
        ASSERT_GT(small.dwNeededSize, small.dwTotalSize) << "the caller is told the size to ask for";
        std::vector<DWORD> block(small.dwNeededSize / 4 + 1);
        auto* vs = reinterpret_cast<VARSTRING*>(block.data());
        vs->dwTotalSize = static_cast<DWORD>(block.size() * 4);
        ASSERT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem"), 0);
        EXPECT_EQ(vs->dwStringOffset, 24u);
        EXPECT_EQ(lineGetID(0, 0, call, LINECALLSELECT_CALL, vs, "comm/other"),
                  AsResult(LINEERR_INVALDEVICECLASS));
        DWORD handle = 0;
        std::memcpy(&handle, reinterpret_cast<char*>(block.data()) + 24, 4);
        auto port = linePortFromHandle(handle);
        ASSERT_TRUE(port && port->IsOpen());

        RecordingSink sink;
        PortIo io;
        ASSERT_EQ(io.Start(port, &sink, nullptr), 0);
        EXPECT_EQ(io.Write("\r", 1), 1);
        EXPECT_TRUE(sink.WaitForText("PASSWORD:", 5000)) << sink.bytes();
        io.Stop(std::chrono::milliseconds(3000), /*closePort=*/false);
        EXPECT_GT(lineDrop(call, nullptr, 0), 0);
        EXPECT_EQ(lineDeallocateCall(call), 0);
        EXPECT_FALSE(linePortFromHandle(handle)) << "the handle goes with its call";
        EXPECT_EQ(lineClose(line), 0);
        EXPECT_EQ(lineShutdown(app), 0);
    }
}

TEST_F(TelephonyTest, BadRequestsAreRefusedWithoutTouchingTheModem) {
    SimProcess sim = StartModem();
    ASSERT_TRUE(sim.ok());
    OfferModems(profile, {sim.path(), "/dev/pmx-no-such-modem"});
    HLINEAPP app = 0;
    DWORD devices = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, Record, nullptr, &devices), 0);
    ASSERT_EQ(devices, 2u);
    DWORD v = 0, e = 0;
    EXPECT_EQ(lineNegotiateAPIVersion(app, 2, kLowestApiVersion, kHighestApiVersion, &v, &e),
              AsResult(LINEERR_BADDEVICEID));
    EXPECT_EQ(lineNegotiateAPIVersion(app, 0, 0x00030000, 0x00040000, &v, &e),
              AsResult(LINEERR_INCOMPATIBLEAPIVERSION));
    HLINE line = 0, second = 0;
    EXPECT_EQ(lineOpen(app, 1, &line, kHighestApiVersion, 0, 0, 1, LINEMEDIAMODE_DATAMODEM, nullptr),
              AsResult(LINEERR_NODEVICE));
    ASSERT_EQ(lineOpen(app, 0, &line, kHighestApiVersion, 0, 0, 1, LINEMEDIAMODE_DATAMODEM, nullptr), 0);
    EXPECT_EQ(lineOpen(app, 0, &second, kHighestApiVersion, 0, 0, 1, LINEMEDIAMODE_DATAMODEM, nullptr),
              AsResult(LINEERR_ALLOCATED)) << "one user of a modem at a time";
    HCALL call = 0;
    // A line end inside the number would start a second command on the modem.
    for (const char* bad : {"123\rATH", "", "12\n3"})
        EXPECT_EQ(lineMakeCall(line, &call, bad, 0, nullptr), AsResult(LINEERR_INVALPARAM)) << bad;
    EXPECT_EQ(lineMakeCall(line, &call, nullptr, 0, nullptr), AsResult(LINEERR_INVALPOINTER));
    EXPECT_EQ(lineShutdown(app), 0);
    EXPECT_EQ(lineClose(line), AsResult(LINEERR_INVALLINEHANDLE)) << "shut down with its application";
}

// Layers made afresh share nothing but the devices: a handle of one means nothing to
// the other, and a layer that goes shuts its applications down and frees its modem.
TEST_F(TelephonyTest, FreshLayersKeepTheirOwnHandlesAndFreeTheirModemsWhenDestroyed) {
    SimProcess sim = StartModem();
    ASSERT_TRUE(sim.ok());
    OfferModems(profile, {sim.path()});
    TelephonyLines second;
    second.SetAvailable(false);
    HLINEAPP app2 = 0;
    DWORD devices = 0;
    EXPECT_EQ(second.Initialize(&app2, Record, &devices), AsResult(LINEERR_OPERATIONUNAVAIL));
    second.SetAvailable(true);
    ASSERT_EQ(second.Initialize(&app2, Record, &devices), 0);
    HLINE line2 = 0;
    {
        TelephonyLines first;
        HLINEAPP app1 = 0;
        ASSERT_EQ(first.Initialize(&app1, Record, &devices), 0);
        HLINE line1 = 0;
        ASSERT_EQ(first.Open(app1, 0, &line1, 0, LINEMEDIAMODE_DATAMODEM), 0);
        EXPECT_EQ(second.Open(app2, 0, &line2, 0, LINEMEDIAMODE_DATAMODEM), AsResult(LINEERR_ALLOCATED));
        EXPECT_EQ(second.Close(line1), AsResult(LINEERR_INVALLINEHANDLE));
        EXPECT_EQ(lineClose(line1), AsResult(LINEERR_INVALLINEHANDLE)) << "nor the process-wide layer's";
    }
    ASSERT_EQ(second.Open(app2, 0, &line2, 0, LINEMEDIAMODE_DATAMODEM), 0) << "freed with its layer";
    EXPECT_EQ(second.Shutdown(app2), 0);
}

TEST_F(TelephonyTest, ModemListComesFromSettingsAndConfigDialogEditsIt) {
    profile.writeInt(telephony::kSection, telephony::kKeyCount, 0);
    EXPECT_TRUE(ConfiguredModems().empty()) << "a present but empty section holds none";
    OfferModems(profile, {"/dev/ttyA", "/dev/ttyB"});
    ASSERT_EQ(TelephonyModems().size(), 2u);
    EXPECT_EQ(lineConfigDialog(1, nullptr, nullptr), AsResult(LINEERR_OPERATIONFAILED)) << "no dialog";
    SetLineConfigHook([](TelephonyModem& m, void*) {
        EXPECT_EQ(m.path, "/dev/ttyB");
        m.path = "/dev/ttyC";
        m.init = "AT&F E0";
        return true;
    });
    EXPECT_EQ(lineConfigDialog(1, nullptr, nullptr), 0);
    EXPECT_EQ(lineConfigDialog(static_cast<DWORD>(TelephonyModems().size()), nullptr, nullptr),
              AsResult(LINEERR_BADDEVICEID));
    const auto modems = TelephonyModems();
    EXPECT_EQ(modems[1].path, "/dev/ttyC");
    EXPECT_EQ(modems[1].init, "AT&F E0");
    EXPECT_EQ(modems[0].path, "/dev/ttyA");
    SetLineConfigHook([](TelephonyModem& m, void*) {
        m.path = "/dev/changed";
        return false;  // Cancel
    });
    EXPECT_EQ(lineConfigDialog(0, nullptr, nullptr), 0);
    EXPECT_EQ(TelephonyModems()[0].path, "/dev/ttyA");
}

TEST_F(TelephonyTest, DetectedModemsPreferStableNamesAndTheChoiceFollowsItsDevice) {
    TempDir dev;
    for (const char* node : {"ttyACM10", "ttyACM2", "ttyUSB0", "ttyS0", "null"}) dev.write(node, "");
    ASSERT_EQ(::mkdir(dev.file("serial").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dev.file("serial/by-id").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("../../ttyUSB0", dev.file("serial/by-id/usb-Maker_Modem-if00").c_str()), 0);
    std::vector<std::string> paths;
    for (const auto& m : DetectSerialModems(dev.path())) paths.push_back(m.path);
    EXPECT_EQ(paths, (std::vector<std::string>{dev.file("serial/by-id/usb-Maker_Modem-if00"),
                                               dev.file("ttyACM2"), dev.file("ttyACM10")}));
    EXPECT_EQ(FindModemByPath(DetectSerialModems(dev.path()), dev.file("ttyUSB0")), 0) << "any name of it";

    // Chosen by path: found wherever it now stands; never another device when it is gone;
    // settings holding only a number keep it.
    OfferModems(profile, {dev.file("ttyACM2"), dev.file("ttyACM10")});
    profile.writeInt(modemtext::kSection, modemtext::kKeyDevice, 0);
    profile.writeString(modemtext::kSection, modemtext::kKeyDevicePath, dev.file("ttyACM10"));
    EXPECT_EQ(CModemLink::ConfiguredDevice(), 1);
    profile.writeString(modemtext::kSection, modemtext::kKeyDevicePath, dev.file("ttyACM7"));
    EXPECT_EQ(CModemLink::ConfiguredDevice(), CModemLink::kAbsentDevice);
    profile.writeString(modemtext::kSection, modemtext::kKeyDevicePath, "");
    EXPECT_EQ(CModemLink::ConfiguredDevice(), 0);
    profile.writeInt(modemtext::kSection, modemtext::kKeyDevice, -1);
    EXPECT_EQ(CModemLink::ConfiguredDevice(), -1);
}

TEST_F(ModemLinkTest, SuccessfulCallShowsItsProgressAndCarriesTheSwitchDialogue) {
    SimProcess sim = StartModem();
    ASSERT_TRUE(sim.ok());
    OfferModems(profile, {sim.path()});
    RecordingSink sink;
    CModemLink link;
    FrameStandIn frame(link);
    link.SetEvents(&frame);
    link.SetReceiver(&sink);
    ASSERT_TRUE(link.SetDestination("0221 555 0100"));
    ASSERT_EQ(link.Connect(true), 1);
    using namespace modemtext;
    EXPECT_EQ(frame.texts(), (std::vector<int>{kInitializing, kPreparingCall, kDialing, kProceeding,
                                               kRingback, kConnected, kOpening}));
    const auto log = frame.log();
    EXPECT_EQ(log.front(), "show 1");
    EXPECT_EQ(log.back(), "hide");
    EXPECT_EQ(log[log.size() - 2], "established");
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.Write("\r", 1), 1);
    EXPECT_TRUE(sink.WaitForText("PASSWORD:"));
    frame.clear();
    EXPECT_EQ(link.Hangup(true), 1);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(frame.saw("box Modem connection disconnected..."));
    EXPECT_TRUE(frame.saw("blocked 1"));
    EXPECT_EQ(link.Hangup(false), 1) << "a second hang-up finds nothing left to release";
}

TEST_F(ModemLinkTest, FailedAttemptsEndWithTheirOwnCodes) {
    SimProcess sim = StartModem({"--busy", "4711"});
    ASSERT_TRUE(sim.ok());
    struct Case {
        const char* name;
        std::function<void()> setup;
        int dial;
        const char* box;  // nullptr: none
    };
    const Case cases[] = {
        {"busy", [&] { OfferModems(profile, {sim.path()}); }, -2, nullptr},
        {"layer unavailable", [&] {
             OfferModems(profile, {sim.path()});
             SetTelephonyAvailable(false);
         }, -1, "box Cannot initialize modem..."},
        {"no device chosen", [&] { profile.writeInt(modemtext::kSection, modemtext::kKeyDevice, -1); }, -5, nullptr},
        {"no data modem", [&] {
             OfferModems(profile, {});
         }, -2, nullptr},
        {"modem absent", [&] { OfferModems(profile, {"/dev/pmx-none"}); }, -2, nullptr},
        {"number refused", [&] { OfferModems(profile, {sim.path()}); }, -2, "box Cannot make a call..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        profile.clear();
        SetTelephonyAvailable(true);
        c.setup();
        CModemLink link;
        FrameStandIn frame(link);
        link.SetEvents(&frame);
        link.SetDestination(std::string(c.name) == "number refused" ? "12\r34" : "4711");
        EXPECT_EQ(link.Dial(), c.dial);
        if (c.box) {
            EXPECT_TRUE(frame.saw(c.box));
        }
        if (c.dial == -2 && std::string(c.name) == "busy") {
            const auto t = frame.texts();
            EXPECT_NE(std::find(t.begin(), t.end(), modemtext::kBusy), t.end());
            EXPECT_TRUE(frame.saw("call lost"));
        }
        if (c.dial != -5) {
            EXPECT_TRUE(frame.saw("blocked 0")) << "Modem Disconnect is offered again";
        }
        EXPECT_EQ(link.Hangup(false), 1);
        EXPECT_FALSE(link.IsOpen());
    }
}

TEST_F(ModemLinkTest, ConfigureOffersAtMostSixteenDataModems) {
    std::vector<std::string> paths;
    for (int i = 0; i < 17; ++i) paths.push_back("/dev/pmx-modem" + std::to_string(i));
    OfferModems(profile, paths);
    CModemLink link;
    std::vector<ModemEntry> offered;
    EXPECT_TRUE(link.ConfigureModem([&](const std::vector<ModemEntry>& e) { offered = e; }));
    ASSERT_EQ(offered.size(), 16u);
    EXPECT_EQ(offered[15].name, "Sim modem 15");
    EXPECT_EQ(offered[15].deviceId, 15u);

    SetTelephonyAvailable(false);
    bool ran = false;
    EXPECT_FALSE(link.ConfigureModem([&](const std::vector<ModemEntry>&) { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST_F(ModemLinkTest, TwentyCallsLeaveNoThreadOrDescriptorBehind) {
    SimProcess sim = StartModem({"--connect-delay", "20"});
    ASSERT_TRUE(sim.ok());
    OfferModems(profile, {sim.path()});
    RecordingSink sink;
    CModemLink link;
    FrameStandIn frame(link);
    link.SetEvents(&frame);
    link.SetReceiver(&sink);
    link.SetDestination("0221 555 0100");
    const int threads = linktest::ThreadCount();
    const int fds = linktest::FdCount();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(link.Connect(true), 1) << "cycle " << i;
        ASSERT_EQ(link.Connect(false), 1);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("20 modem call/hang-up cycles: %lld ms\n", static_cast<long long>(ms));
    EXPECT_EQ(linktest::ThreadCount(), threads);
    EXPECT_EQ(linktest::FdCount(), fds);
}
