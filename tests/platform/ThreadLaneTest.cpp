// Calls between threads: two threads that send to each other, a lane closed under a
// waiting sender, and the order of what a worker posts. Qt Core only.
#include "platform/GuiThread.h"

#include <QCoreApplication>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class ThreadLaneTest : public QObject {
    Q_OBJECT
private slots:
    void threadsThatSendToEachOtherNeverBlock();
    void closedLaneDropsLateCallsAndReleasesItsSender();
};

void ThreadLaneTest::threadsThatSendToEachOtherNeverBlock() {
    ThreadLane mainLane;
    mainLane.Open();
    ThreadLane workerLane;
    QThread worker;
    worker.start();
    workerLane.Open(&worker);

    // The worker, inside a posted call, sends to this thread while this thread sends
    // to the worker: each serves the other's call while it waits for its own.
    std::atomic<bool> workerInside{false};
    bool reportRan = false;
    std::atomic<bool> reportSent{false};
    Qt::HANDLE ranOn = nullptr;
    workerLane.Post([&] {
        workerInside = true;
        reportSent = mainLane.Send([&] { reportRan = true; }, &workerLane);
    });
    QTRY_VERIFY(workerInside.load());
    QVERIFY(workerLane.Send([&] { ranOn = QThread::currentThreadId(); }, &mainLane));
    QVERIFY(ranOn != QThread::currentThreadId());
    QTRY_VERIFY(reportRan && reportSent);

    // A report sent while this thread waits serving is answered during the wait.
    std::atomic<bool> answered{false};
    workerLane.Post([&] { answered = mainLane.Send([] {}, &workerLane); });
    for (int i = 0; i < 500 && !answered; ++i) mainLane.WaitServing(10);
    QVERIFY(answered.load());

    workerLane.Send([&] { workerLane.Close(); }, &mainLane);
    QVERIFY(!workerLane.isOpen());
    QVERIFY(!workerLane.Send([] {}) && !workerLane.Post([] {}));
    worker.quit();
    worker.wait();
}

void ThreadLaneTest::closedLaneDropsLateCallsAndReleasesItsSender() {
    ThreadLane lane;
    lane.Open();
    std::atomic<bool> posted{false}, lateRan{false};
    std::atomic<int> sendResult{-1};
    std::thread late([&] {
        lane.Post([&] { lateRan = true; });
        posted = true;
        sendResult = lane.Send([&] { lateRan = true; }) ? 1 : 0;
    });
    while (!posted) std::this_thread::yield();  // no events here: the post must stay queued
    lane.Close();  // the worker's attempt is over: nothing it queued may run
    late.join();
    QCOMPARE(sendResult.load(), 0);
    QCoreApplication::processEvents();
    QVERIFY(!lateRan);
    QVERIFY(!lane.Post([&] { lateRan = true; }));

    // Reopened: a worker's posts all arrive, in order; one for a receiver that is
    // gone is dropped.
    lane.Open();
    std::vector<int> seen;
    auto* gone = new QObject;
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i) lane.Post([&seen, i] { seen.push_back(i); });
        lane.Post([&] { lateRan = true; }, gone);
    });
    worker.join();
    delete gone;
    QTRY_COMPARE(seen.size(), size_t(2000));
    for (int i = 0; i < 2000; ++i) QCOMPARE(seen[size_t(i)], i);
    QCoreApplication::processEvents();
    QVERIFY(!lateRan);
}

QTEST_GUILESS_MAIN(ThreadLaneTest)
#include "ThreadLaneTest.moc"
