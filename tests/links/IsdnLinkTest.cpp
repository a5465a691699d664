// CIsdnLink over the reference adapter: connect, the reader thread's delivery,
// write failures, failed connects, and that closing leaves nothing behind.
#include "platform/Profile.h"
#include "links/IsdnLink.h"
#include "links/IsdnNumbers.h"
#include "links/IsdnTexts.h"
#include "tests/links/IsdnTestPeer.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What the reader thread handed over, and on which threads.
struct Received {
    std::mutex mutex;
    std::string bytes;
    std::vector<int> chunkSizes;
    std::vector<std::thread::id> threads;

    CIsdnLink::Consumer consumer() {
        return [this](const unsigned char* b, int n) {
            std::lock_guard<std::mutex> lock(mutex);
            bytes.append(reinterpret_cast<const char*>(b), size_t(n));
            chunkSizes.push_back(n);
            threads.push_back(std::this_thread::get_id());
        };
    }
    std::string waitFor(size_t count) {
        for (int i = 0; i < 400; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (bytes.size() >= count)
                    return bytes;
            }
            std::this_thread::sleep_for(5ms);
        }
        std::lock_guard<std::mutex> lock(mutex);
        return bytes;
    }
};

class IsdnLinkTest : public ::testing::Test {
protected:
    IsdnLinkTest() : routes_("0301234 " + peer_.endpoint() + "\n") {
        Profile::install(&profile_);
        profile_.writeString(isdn::kSection, isdn::kNumberKey, "0301234");
    }
    ~IsdnLinkTest() override { Profile::install(nullptr); }

    LoopbackPeer peer_;
    RoutesFile routes_;
    MemoryProfile profile_;
    ScriptedMessages boxes_;
};

std::string DialFailedText(int code) {
    char text[96];
    std::snprintf(text, sizeof text, isdn::kDialFailedFormat, code);
    return text;
}

TEST_F(IsdnLinkTest, ConnectCarriesBytesBothWaysAndDeliversOnTheReaderThread) {
    Received got;
    CIsdnLink link(kAdapterPath);
    link.setConsumer(got.consumer());
    ASSERT_TRUE(link.connect());
    EXPECT_TRUE(link.running());
    ASSERT_TRUE(peer_.accept());

    EXPECT_TRUE(link.write("\r", 1));
    EXPECT_EQ(peer_.receive(1), "\r");

    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += char(i * 7);
    ASSERT_TRUE(peer_.send(big));
    EXPECT_EQ(got.waitFor(big.size()), big) << "every byte, in order";
    {
        std::lock_guard<std::mutex> lock(got.mutex);
        for (int n : got.chunkSizes)
            EXPECT_TRUE(n > 0 && n <= CIsdnLink::kReadBufferSize) << n;
        for (auto id : got.threads)
            EXPECT_NE(id, std::this_thread::get_id());
    }

    link.close();
    EXPECT_FALSE(link.running());
    EXPECT_TRUE(peer_.sawHangUp());
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(IsdnLinkTest, FailedDialShowsItsCodeAndLeavesNothingRunning) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string library;
        std::string number;
        int code;
    } cases[] = {
        {"unknown number", kAdapterPath, "999", ISDN_ERR_UNKNOWN_NUMBER},
        {"refused", kAdapterPath, "200", ISDN_ERR_REFUSED},
        {"no number stored", kAdapterPath, "", ISDN_ERR_BAD_NUMBER},
        {"missing library", dir.file("libisdn30P.so"), "0301234", IsdnAdapter::kErrLibraryMissing},
        {"library lacks a function", kLackingAdapterPath, "0301234",
         IsdnAdapter::kErrFunctionMissing},
    };
    routes_.rewrite("0301234 " + peer_.endpoint() + "\n200 127.0.0.1:" +
                    std::to_string(ClosedPort()) + "\n");
    const int threadsBefore = ThreadCount();
    for (const Case& c : cases) {
        boxes_.clear();
        profile_.writeString(isdn::kSection, isdn::kNumberKey, c.number);
        {
            CIsdnLink link(c.library);
            EXPECT_FALSE(link.connect()) << c.what;
            EXPECT_FALSE(link.running()) << c.what;
            EXPECT_EQ(link.lastErrorCode(), c.code) << c.what;
            ASSERT_EQ(boxes_.count(), 1u) << c.what;
            EXPECT_EQ(boxes_.boxes()[0].text, DialFailedText(c.code));
            EXPECT_EQ(ThreadCount(), threadsBefore) << c.what;
        }
    }
}

TEST_F(IsdnLinkTest, TheNumberDialledIsTheOneStoredAtConnect) {
    routes_.rewrite("111 127.0.0.1:1\n222 " + peer_.endpoint() + "\n");
    profile_.writeString(isdn::kSection, isdn::kNumberKey, "111");
    CIsdnLink link(kAdapterPath);
    profile_.writeString(isdn::kSection, isdn::kNumberKey, "222");
    EXPECT_TRUE(link.connect());
    EXPECT_TRUE(peer_.accept());
}

TEST_F(IsdnLinkTest, WriteFailureIsReported) {
    CIsdnLink never(kAdapterPath);
    EXPECT_FALSE(never.write("x", 1));
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text, isdn::kSendFailed);

    CIsdnLink link(kAdapterPath);
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(peer_.accept());
    EXPECT_TRUE(link.write("ok", 2));
    link.close();
    boxes_.clear();
    EXPECT_FALSE(link.write("x", 1));
    EXPECT_TRUE(boxes_.sawText(isdn::kSendFailed));
    boxes_.clear();
    EXPECT_FALSE(link.write("x", 1, false));
    EXPECT_EQ(boxes_.count(), 0u) << "a quiet write shows nothing";
}

// The frame keeps a failed link until the next connect replaces it; deleting it
// must not hang up the call the new link placed through the same library.
TEST_F(IsdnLinkTest, DeletingAFailedLinkLeavesAnotherLinksCallUp) {
    auto failed = std::make_unique<CIsdnLink>(kAdapterPath);
    profile_.writeString(isdn::kSection, isdn::kNumberKey, "999");
    EXPECT_FALSE(failed->connect());
    profile_.writeString(isdn::kSection, isdn::kNumberKey, "0301234");

    CIsdnLink link(kAdapterPath);
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(peer_.accept());
    failed->close();
    failed.reset();
    EXPECT_FALSE(peer_.sawHangUp(50));
    EXPECT_TRUE(link.write("still", 5));
    EXPECT_EQ(peer_.receive(5), "still");
}

TEST_F(IsdnLinkTest, FarEndHangUpEndsTheCallOnceWithoutABox) {
    Received got;
    CIsdnLink link(kAdapterPath);
    link.setConsumer(got.consumer());
    std::atomic<int> ended{0};
    link.setCallEndedHandler([&] { ++ended; });
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(peer_.accept());
    peer_.send("bye");
    peer_.hangUp();
    EXPECT_EQ(got.waitFor(3), "bye");
    ASSERT_TRUE(WaitUntil([&] { return ended.load() != 0; }));
    EXPECT_EQ(ended.load(), 1) << "told once, and no more polling of a dead call";
    EXPECT_FALSE(link.running());
    EXPECT_EQ(boxes_.count(), 0u);
    auto start = std::chrono::steady_clock::now();
    link.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(ended.load(), 1) << "a close is not a hang-up";
    std::lock_guard<std::mutex> lock(got.mutex);
    EXPECT_EQ(got.bytes, "bye");
}

class NoReaderLink : public CIsdnLink {
public:
    using CIsdnLink::CIsdnLink;

protected:
    bool startReader() override { return false; }
};

TEST_F(IsdnLinkTest, ReaderThatCannotStartHangsUpTheCallQuietly) {
    NoReaderLink link(kAdapterPath);
    EXPECT_FALSE(link.connect());
    EXPECT_FALSE(link.running());
    EXPECT_EQ(boxes_.count(), 0u);
    ASSERT_TRUE(peer_.accept());
    EXPECT_TRUE(peer_.sawHangUp()) << "no call is left up behind a failed connect";

    CIsdnLink next(kAdapterPath);
    EXPECT_TRUE(next.connect()) << "the line is free again";
}

TEST_F(IsdnLinkTest, ConsumerExceptionEndsTheReaderQuietly) {
    std::atomic<int> calls{0};
    CIsdnLink link(kAdapterPath);
    link.setConsumer([&](const unsigned char*, int) {
        ++calls;
        throw std::runtime_error("bad block");
    });
    ASSERT_TRUE(link.connect());
    const int withReader = ThreadCount();
    ASSERT_TRUE(peer_.accept());
    peer_.send("a");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() != 0 && ThreadCount() < withReader; }))
        << "the reader thread ends";
    peer_.send("b");
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(link.write("x", 1));
    link.close();
    EXPECT_EQ(boxes_.count(), 0u);
}

// The Telnet machine answers on the reader thread while the main thread sends
// lines and then closes.
TEST_F(IsdnLinkTest, RepliesFromTheReaderWhileTheMainThreadWritesAndCloses) {
    CIsdnLink link(kAdapterPath);
    std::atomic<int> replies{0};
    link.setConsumer([&](const unsigned char*, int) {
        if (link.write("R", 1, false))
            ++replies;
    });
    ASSERT_TRUE(link.connect());
    ASSERT_TRUE(peer_.accept());
    std::thread farEnd([&] {
        for (int i = 0; i < 50; ++i) {
            peer_.send("q");
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 200; ++i)
        link.write("M", 1, false);
    farEnd.join();
    ASSERT_TRUE(WaitUntil([&] { return replies.load() > 0; }));
    link.close();
    std::string all = peer_.receive(1000, 200);
    EXPECT_EQ(std::count(all.begin(), all.end(), 'M'), 200);
    EXPECT_EQ(std::count(all.begin(), all.end(), 'R'), replies.load());
    EXPECT_GT(replies.load(), 0);
}

TEST_F(IsdnLinkTest, FiftyCallsLeaveNoThreadsOrDescriptorsBehind) {
    auto oneCall = [&] {
        Received got;
        CIsdnLink link(kAdapterPath);
        link.setConsumer(got.consumer());
        ASSERT_TRUE(link.connect());
        ASSERT_TRUE(peer_.accept());
        peer_.send("x");
        EXPECT_TRUE(link.write("y", 1));
        EXPECT_EQ(got.waitFor(1), "x") << "the reader is running before the close";
        link.close();
        peer_.hangUp();
    };
    oneCall();  // lets lazily started helper threads settle first
    const int threads = ThreadCount();
    const int fds = FdCount();
    for (int i = 0; i < 50; ++i)
        oneCall();
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(FdCount(), fds);
}

TEST(IsdnNumbers, StoreStepAndNumberList) {
    MemoryProfile profile;
    Profile::install(&profile);
    ScriptedMessages boxes;
    EXPECT_EQ(ReadStoredIsdnNumber(), "");
    EXPECT_FALSE(StoreIsdnNumber(""));
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, isdn::kEnterNumber);
    EXPECT_EQ(boxes.boxes()[0].title, isdn::kEnterNumberTitle);
    EXPECT_FALSE(profile.has("ISDN", "History %c"));
    EXPECT_TRUE(StoreIsdnNumber(" 0301234 "));
    EXPECT_EQ(ReadStoredIsdnNumber(), " 0301234 ") << "stored as typed";

    IsdnNumberList list;
    list.addIfMissing("b");
    list.addIfMissing("");
    list.addIfMissing("a");
    list.addIfMissing("b");
    list.addIfMissing("B");
    EXPECT_EQ(list.entries(), (std::vector<std::string>{"b", "a", "B"}));
    Profile::install(nullptr);
}

}  // namespace
