// The terminal window on the offscreen platform: painting after text from a reader
// thread, no keyboard input, Clear New. Runs on the GUI thread plus one feeder thread.
#include "terminal/CTRQDiagView.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

class CTRQDiagViewTest : public QObject {
    Q_OBJECT

    static QImage Picture(CTRQDiagView& view) { return view.viewport()->grab().toImage(); }

private slots:
    void paintsTextFromReaderThread() {
        CTRQDiagDoc doc;
        CTRQDiagView view(doc);
        view.resize(640, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage empty = Picture(view);

        std::thread reader([&doc] {
            for (int i = 0; i < 400; ++i) {
                const std::string line = "TRUNK " + std::to_string(i) + "\tIDLE\r\n";
                doc.AppendReceived(line.data(), static_cast<int>(line.size()));
            }
            for (char c : std::string("PASSWORD:")) doc.AppendReceived(&c, 1);
        });
        reader.join();
        QTRY_VERIFY(view.verticalScrollBar()->maximum() > 0);
        // Scrolled so that the last line is the bottom row: within a line of the end.
        QTRY_VERIFY(view.verticalScrollBar()->value() > view.verticalScrollBar()->maximum() - view.LineHeight());
        QVERIFY(Picture(view) != empty);
        QCOMPARE(view.Model().Snapshot().lineCount, 400);
        QCOMPARE(view.Model().Snapshot().lineHeight, view.LineHeight());
    }

    void keysDoNothing() {
        CTRQDiagDoc doc;
        CTRQDiagView view(doc);
        int prompts = 0;
        TerminalHooks hooks;
        hooks.promptHandling = [&](std::string_view) { ++prompts; };
        view.SetHooks(hooks);
        view.resize(640, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const std::string text = "line\r\n";
        for (int i = 0; i < 50; ++i) doc.AppendReceived(text.data(), 6);
        QTRY_VERIFY(view.verticalScrollBar()->value() > 0);
        prompts = 0;
        const int scroll = view.verticalScrollBar()->value();
        const std::string before = doc.GetTranscript();

        view.setFocus();
        QTest::keyClicks(&view, "x\r");
        QTest::keyClick(&view, Qt::Key_Return);
        QTest::keyClick(&view, Qt::Key_PageUp);
        QTest::keyClick(&view, Qt::Key_Home);
        QTest::qWait(20);
        QCOMPARE(doc.GetTranscript(), before);
        QCOMPARE(view.verticalScrollBar()->value(), scroll);
        QCOMPARE(prompts, 0);
    }

    void clearScreenEmptiesIt() {
        CTRQDiagDoc doc;
        CTRQDiagView view(doc);
        view.resize(640, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage empty = Picture(view);
        const std::string text = "some text\r\n";
        for (int i = 0; i < 30; ++i) doc.AppendReceived(text.data(), static_cast<int>(text.size()));
        QTRY_VERIFY(Picture(view) != empty);

        view.ClearScreen();
        QTRY_COMPARE(view.verticalScrollBar()->maximum(), 0);
        QCOMPARE(doc.GetTranscript(), std::string());
        QCOMPARE(view.Model().Snapshot().lineCount, 0);
        QCOMPARE(Picture(view), empty);
    }

    void openShowsFileOrFails() {
        CTRQDiagDoc doc;
        CTRQDiagView view(doc);
        view.resize(640, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage empty = Picture(view);
        QVERIFY(!view.OpenDocument(QStringLiteral("/nonexistent/file.txt")));

        QTemporaryDir dir;
        QFile f(dir.filePath("saved.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("first\r\nsecond\r\nthird\r\n");
        f.close();
        QVERIFY(view.OpenDocument(f.fileName()));
        QCOMPARE(view.Model().Snapshot().lineCount, 3);
        QTRY_VERIFY(Picture(view) != empty);
    }
};

QTEST_MAIN(CTRQDiagViewTest)
#include "CTRQDiagViewTest.moc"
