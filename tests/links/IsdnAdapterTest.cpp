// The adapter loader and the reference adapter library against a loopback peer:
// dialling, routing file rules, error codes, non-blocking reads, and reading on
// one thread while another writes and hangs up.
#include "links/IsdnAdapter.h"
#include "tests/links/IsdnTestPeer.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

// Reads until count bytes arrived or two seconds passed.
std::string ReadFor(IsdnAdapter& adapter, size_t count, int capacity = 2048) {
    std::string got;
    std::vector<unsigned char> buf(size_t(capacity) + 16, 0xEE);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        int n = adapter.readBlock(buf.data(), capacity);
        EXPECT_LE(n, capacity);
        if (n > 0)
            got.append(reinterpret_cast<char*>(buf.data()), size_t(n));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(buf[size_t(capacity)], 0xEE) << "wrote past the capacity";
    }
    return got;
}

TEST(IsdnAdapter, DialCarriesBytesBothWaysAndHangsUp) {
    LoopbackPeer peer;
    RoutesFile routes("0301234 " + peer.endpoint() + "\n");
    IsdnAdapter adapter(kAdapterPath);
    int code = -1;
    ASSERT_EQ(adapter.dial("0301234", &code), 0);
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(peer.accept());

    const unsigned char out[] = {'a', 0, 0xFF, '\r'};
    EXPECT_EQ(adapter.writeBlock(out, 4), 4);
    EXPECT_EQ(peer.receive(4), std::string("a\0\xFF\r", 4));
    EXPECT_EQ(adapter.writeBlock(out, 0), 0) << "an empty block is a success";

    ASSERT_TRUE(peer.send(std::string("xy\0z", 4)));
    EXPECT_EQ(ReadFor(adapter, 4), std::string("xy\0z", 4));

    EXPECT_EQ(adapter.closeCall(), 0);
    EXPECT_TRUE(peer.sawHangUp());
    EXPECT_LT(adapter.writeBlock(out, 4), 0);
    unsigned char buf[8];
    EXPECT_LT(adapter.readBlock(buf, 8), 0);
    EXPECT_LT(adapter.closeCall(), 0) << "a second hang-up has no call";
}

TEST(IsdnAdapter, ReadNeverBlocksNorExceedsCapacity) {
    LoopbackPeer peer;
    RoutesFile routes("1 " + peer.endpoint() + "\n");
    IsdnAdapter adapter(kAdapterPath);
    int code = 0;
    ASSERT_EQ(adapter.dial("1", &code), 0);
    ASSERT_TRUE(peer.accept());

    unsigned char buf[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(adapter.readBlock(buf, sizeof buf), 0) << "nothing waits";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    std::string sent;
    for (int i = 0; i < 5000; ++i)
        sent += char('A' + i % 26);
    ASSERT_TRUE(peer.send(sent));
    EXPECT_EQ(ReadFor(adapter, sent.size(), 7), sent);
    EXPECT_EQ(adapter.readBlock(buf, sizeof buf), 0) << "drained";

    EXPECT_LT(adapter.readBlock(nullptr, 16), 0);
    EXPECT_LT(adapter.readBlock(buf, 0), 0);
    EXPECT_LT(adapter.writeBlock(nullptr, 3), 0);
    EXPECT_LT(adapter.writeBlock(buf, -1), 0);

    peer.hangUp();
    EXPECT_TRUE(WaitUntil([&] { return adapter.readBlock(buf, sizeof buf) < 0; }))
        << "the far end ended the call";
    adapter.closeCall();
}

TEST(IsdnAdapter, DialFailuresGiveDistinctCodes) {
    LoopbackPeer peer;
    const std::string good = "100 " + peer.endpoint() + "\n";
    const std::string refused = "200 127.0.0.1:" + std::to_string(ClosedPort()) + "\n";
    const std::string bad = "301 127.0.0.1:99999\n302 127.0.0.1\n303 127.0.0.1:80x\n"
                            "304 ::1:23\n305\n306 no-such-host.invalid:23\n";
    struct Case {
        const char* number;
        int code;
    } cases[] = {
        {"999", ISDN_ERR_UNKNOWN_NUMBER}, {"10", ISDN_ERR_UNKNOWN_NUMBER},
        {"200", ISDN_ERR_REFUSED},        {"", ISDN_ERR_BAD_NUMBER},
        {"301", ISDN_ERR_BAD_ROUTE},      {"302", ISDN_ERR_BAD_ROUTE},
        {"303", ISDN_ERR_BAD_ROUTE},      {"304", ISDN_ERR_BAD_ROUTE},
        {"305", ISDN_ERR_BAD_ROUTE},      {"306", ISDN_ERR_BAD_ROUTE},
    };
    RoutesFile routes(good + refused + bad);
    IsdnAdapter adapter(kAdapterPath);
    for (const Case& c : cases) {
        int code = 0;
        EXPECT_NE(adapter.dial(c.number, &code), 0) << c.number;
        EXPECT_EQ(code, c.code) << "number '" << c.number << "'";
    }

    int code = 0;
    ASSERT_EQ(adapter.dial("100", &code), 0);
    EXPECT_NE(adapter.dial("100", &code), 0);
    EXPECT_EQ(code, ISDN_ERR_BUSY) << "one call at a time";
    adapter.closeCall();

    ::setenv("PMX_ISDN_ROUTES", "/nonexistent/routes.txt", 1);
    EXPECT_NE(adapter.dial("100", &code), 0);
    EXPECT_EQ(code, ISDN_ERR_NO_ROUTES);
}

TEST(IsdnAdapter, RoutingFileLayouts) {
    LoopbackPeer peer;
    const std::string ep = peer.endpoint();
    struct Case {
        const char* what;
        std::string file;
        const char* number;
    } cases[] = {
        {"comments and blank lines", "# routes\n\n   # indented\n42 " + ep + "\n", "42"},
        {"CRLF and tabs", "41 127.0.0.1:1\r\n\t42\t" + ep + "\r\n", "42"},
        {"trailing comment", "42 " + ep + "   # the lab switch\n", "42"},
        {"dial characters", "*55#9 " + ep + "\n", "*55#9"},
        {"first line wins", "42 " + ep + "\n42 127.0.0.1:1\n", "42"},
        {"host name", "42 localhost:" + std::to_string(peer.port()) + "\n", "42"},
        {"no final newline", "42 " + ep, "42"},
    };
    RoutesFile routes("");
    IsdnAdapter adapter(kAdapterPath);
    for (const Case& c : cases) {
        routes.rewrite(c.file);
        int code = 0;
        EXPECT_EQ(adapter.dial(c.number, &code), 0) << c.what << ": code " << code;
        EXPECT_TRUE(peer.accept(2000)) << c.what;
        adapter.closeCall();
        peer.hangUp();
    }
}

TEST(IsdnAdapter, RoutingFileBesideTheLibrary) {
    LoopbackPeer peer;
    TempDir dir;
    std::filesystem::copy_file(kAdapterPath, dir.file("libisdn30P.so"));
    dir.write("isdn-routes.txt", "77 " + peer.endpoint() + "\n");
    ::unsetenv("PMX_ISDN_ROUTES");
    IsdnAdapter adapter(dir.file("libisdn30P.so"));
    int code = 0;
    EXPECT_EQ(adapter.dial("77", &code), 0) << code;
    EXPECT_TRUE(peer.accept(2000));
    adapter.closeCall();
}

TEST(IsdnAdapter, UnusableLibrariesFailTheDialWithTheirCodes) {
    TempDir dir;
    dir.write("libisdn30P.so", "not a shared object\n");
    struct Case {
        std::string path;
        int code;
        const char* mentions;
    } cases[] = {
        {dir.file("missing.so"), IsdnAdapter::kErrLibraryMissing, "missing.so"},
        {kLackingAdapterPath, IsdnAdapter::kErrFunctionMissing, "CloseISDN"},
        {dir.file("libisdn30P.so"), IsdnAdapter::kErrLibraryBroken, ""},
    };
    for (const Case& c : cases) {
        IsdnAdapter adapter(c.path);
        int code = 0;
        EXPECT_NE(adapter.dial("1", &code), 0) << c.path;
        EXPECT_EQ(code, c.code) << c.path;
        EXPECT_FALSE(adapter.loaded());
        EXPECT_NE(adapter.loadError().find(c.mentions), std::string::npos) << adapter.loadError();
        unsigned char buf[4] = {};
        EXPECT_LT(adapter.writeBlock(buf, 4), 0);
        EXPECT_LT(adapter.readBlock(buf, 4), 0);
        EXPECT_LT(adapter.closeCall(), 0);
    }
}

TEST(IsdnAdapter, EnvironmentChoosesTheLibrary) {
    ::setenv(IsdnAdapter::kLibraryEnv, "/nonexistent/libisdn30P.so", 1);
    {
        IsdnAdapter adapter;
        EXPECT_EQ(adapter.load(), IsdnAdapter::kErrLibraryMissing);
    }
    ::setenv(IsdnAdapter::kLibraryEnv, kAdapterPath, 1);
    {
        IsdnAdapter adapter;
        EXPECT_EQ(adapter.load(), 0) << adapter.loadError();
    }
    ::unsetenv(IsdnAdapter::kLibraryEnv);
}

// The reader polls while the main thread writes, hangs up and dials again: the
// reader must never touch a closed or reused descriptor, and every byte it
// gets was sent by a far end.
TEST(IsdnAdapter, ReadWhileAnotherThreadWritesAndHangsUp) {
    LoopbackPeer peer;
    RoutesFile routes("5 " + peer.endpoint() + "\n");
    IsdnAdapter adapter(kAdapterPath);
    ASSERT_EQ(adapter.load(), 0) << "bound before any thread calls it";
    std::atomic<bool> stop{false};
    std::atomic<long> bytesRead{0};
    std::atomic<bool> foreign{false};
    std::thread reader([&] {
        unsigned char buf[2048];
        while (!stop) {
            int n = adapter.readBlock(buf, sizeof buf);
            for (int i = 0; i < n; ++i)
                if (buf[i] != 'p')
                    foreign = true;
            if (n > 0)
                bytesRead += n;
        }
    });
    const unsigned char block[512] = {};
    for (int round = 0; round < 20; ++round) {
        int code = 0;
        ASSERT_EQ(adapter.dial("5", &code), 0) << code;
        ASSERT_TRUE(peer.accept());
        peer.send(std::string(300, 'p'));
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(adapter.writeBlock(block, sizeof block), int(sizeof block));
        EXPECT_EQ(adapter.closeCall(), 0);
        // A file opened now may reuse the call's descriptor number.
        FILE* f = std::tmpfile();
        std::fputs("zzzz", f);
        std::rewind(f);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::fclose(f);
    }
    stop = true;
    reader.join();
    EXPECT_FALSE(foreign) << "read bytes that no far end sent";
}

}  // namespace
