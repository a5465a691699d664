// The terminal window on the offscreen platform: painting after text from a reader
// thread, no keyboard input, Clear New. Runs on the GUI thread plus one feeder thread.
#include "platform/AppGlobals.h"
#include "terminal/CTRQDiagView.h"
#include "terminal/TerminalFindBar.h"
#include "tests/support/TempDir.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

#include <filesystem>
#include <thread>

// A window holding a terminal above an input line, shown, with its own start
// directory for overflow dumps.
struct ShownTerminal {
    TempDir dir;
    CTRQDiagDoc doc;
    QWidget window;
    CTRQDiagView* view = new CTRQDiagView(doc, &window);
    QLineEdit* input = new QLineEdit(&window);
    ShownTerminal() {
        SetStartDirectory(dir.path());
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(view);
        layout->addWidget(input);
        window.resize(640, 300);
        window.show();
        window.activateWindow();
    }
    ~ShownTerminal() {
        delete view;  // before the document
        SetStartDirectory("");
    }
    void Feed(std::string_view s) { doc.AppendReceived(s.data(), static_cast<int>(s.size())); }
    QPoint At(int line, int column) const {
        return QPoint(column * view->CharWidth() + view->CharWidth() / 2,
                      line * view->LineHeight() + view->LineHeight() / 2);
    }
};

class CTRQDiagViewTest : public QObject {
    Q_OBJECT

    static QImage Picture(CTRQDiagView& view) { return view.viewport()->grab().toImage(); }

private slots:
    // The view narrower than its page, so that a horizontal scroll bar shows: the last
    // line (the prompt) must still be whole above it once the text has arrived.
    void paintsTextFromReaderThread() {
        CTRQDiagDoc doc;
        CTRQDiagView view(doc);
        view.resize(40 * view.CharWidth(), 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int lh = view.LineHeight();

        std::thread reader([&doc] {
            for (int i = 0; i < 400; ++i) {
                const std::string line = "TRUNK " + std::to_string(i) + "\tIDLE\r\n";
                doc.AppendReceived(line.data(), static_cast<int>(line.size()));
            }
            for (char c : std::string("PASSWORD:")) doc.AppendReceived(&c, 1);
        });
        reader.join();
        QTRY_VERIFY(view.horizontalScrollBar()->isVisible());
        auto lastLineBottom = [&] {
            return (view.Model().Snapshot().lineCount + 1) * lh - view.verticalScrollBar()->value();
        };
        QTRY_COMPARE(lastLineBottom(), view.viewport()->height());
        const QImage bottomRow = Picture(view).copy(0, view.viewport()->height() - lh, 200, lh);
        QImage blank = bottomRow;
        blank.fill(view.viewport()->palette().color(QPalette::Base));
        QVERIFY(bottomRow != blank);
        QCOMPARE(view.Model().Snapshot().lineCount, 400);
        QCOMPARE(view.Model().Snapshot().lineHeight, lh);
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

    // Text arriving in many blocks is painted at most about sixty times a second, and
    // after 50 MB without a carriage return a paint still draws only what fits.
    void paintWorkIsBounded() {
        ShownTerminal t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.window));
        std::string block(4096, 'x');
        for (size_t i = 0; i < block.size(); i += 9) block[i] = '\t';
        const auto before = t.view->Stats();
        QElapsedTimer clock;
        clock.start();
        std::atomic<bool> done{false};
        size_t most = 0;
        std::thread reader([&] {
            for (size_t fed = 0; fed < (50u << 20); fed += block.size()) {
                t.Feed(block);
                most = std::max(most, t.doc.GetTranscript().size());
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 120000);
        reader.join();
        QTest::qWait(50);
        const long paints = t.view->Stats().paints - before.paints;
        QVERIFY2(paints <= clock.elapsed() / 16 + 3, QByteArray::number(qlonglong(paints)));
        QVERIFY(most <= kOverflowBytes + block.size());

        const auto mid = t.view->Stats();
        t.view->viewport()->repaint();
        const auto after = t.view->Stats();
        QCOMPARE(after.paints - mid.paints, 1L);
        const long rows = t.view->viewport()->height() / t.view->LineHeight() + 2;
        const long columns = t.view->viewport()->width() + 2;  // at least a pixel a column
        QVERIFY(after.charsDrawn - mid.charsDrawn <= rows * columns);
        QVERIFY(after.charsDrawn > mid.charsDrawn);
    }

    // Lines arriving a few at a time: frames come less often than the display's while
    // the text streams on, a frame draws the new lines only (the rest is moved), the
    // scroll bar takes the growing range about once a second rather than every frame,
    // and shows the end once the text pauses.
    void streamingRedrawsOnlyNewText() {
        ShownTerminal t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.window));
        for (int i = 0; i < 100; ++i) t.Feed("filler\r\n");
        QScrollBar* bar = t.view->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        const auto before = t.view->Stats();
        QElapsedTimer clock;
        clock.start();
        constexpr int kLines = 300;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            for (int i = 0; i < kLines; ++i) {
                t.Feed("TRUNK " + std::to_string(i) + " IDLE\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
        reader.join();
        const long streamed = clock.elapsed();
        const auto after = t.view->Stats();
        const long paints = after.paints - before.paints;
        const long lines = after.linesDrawn - before.linesDrawn;
        const long barUpdates = after.scrollBarUpdates - before.scrollBarUpdates;
        QVERIFY2(paints > 0 && paints <= streamed / 35 + 4,
                 qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(streamed)));
        QVERIFY2(lines <= kLines + 3 * paints, qPrintable(QStringLiteral("%1 lines in %2 paints").arg(lines).arg(paints)));
        QVERIFY2(barUpdates <= streamed / 1000 + 2,
                 qPrintable(QStringLiteral("%1 scroll bar updates in %2 ms").arg(barUpdates).arg(streamed)));

        const int shown = t.view->viewport()->height();
        QTRY_COMPARE(bar->maximum(), t.view->Model().Snapshot().scroll.totalHeight - shown);
        QTRY_COMPARE(bar->value(), bar->maximum());
        QVERIFY(t.view->Following());
        // Scrolling back from there starts from the end, not from a stale bar.
        QTest::keyClick(t.view, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(bar->value(), bar->maximum() - std::max(t.view->LineHeight(), shown - t.view->LineHeight()));
        QVERIFY(!t.view->Following());
    }

    // A flood dumped every few dozen lines clears the screen many times a second: the
    // bars still follow at the streaming pace, and end at the end of what is left.
    void floodOfDumpsKeepsTheBarsPaced() {
        ShownTerminal t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.window));
        t.view->Model().SetOverflowLimits(uint64_t{40} * static_cast<uint64_t>(t.view->LineHeight()), 1 << 20);
        QSignalSpy notices(t.view, &CTRQDiagView::statusMessage);
        const auto before = t.view->Stats();
        QElapsedTimer clock;
        clock.start();
        std::atomic<bool> done{false};
        std::thread reader([&] {
            for (int i = 0; i < 300; ++i) {
                std::string block;
                for (int k = 0; k < 30; ++k) block += "LINE " + std::to_string(i * 30 + k) + "\r\n";
                t.Feed(block);
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            t.Feed("maint> ");
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
        reader.join();
        const long streamed = clock.elapsed();
        const long barUpdates = t.view->Stats().scrollBarUpdates - before.scrollBarUpdates;
        QVERIFY2(barUpdates <= streamed / 1000 + 2,
                 qPrintable(QStringLiteral("%1 scroll bar updates in %2 ms").arg(barUpdates).arg(streamed)));
        QScrollBar* bar = t.view->verticalScrollBar();
        QTRY_COMPARE(bar->maximum(), std::max(0, t.view->Model().Snapshot().scroll.totalHeight -
                                                     t.view->viewport()->height()));
        QTRY_COMPARE(bar->value(), bar->maximum());
        // The status bar names the dumps a few times a second, ending with the newest.
        const int dumps = static_cast<int>(std::distance(std::filesystem::directory_iterator(t.dir.path()), {}));
        QVERIFY(dumps > 0);
        QTRY_VERIFY(!notices.isEmpty() && notices.last().at(0).toString().contains(" dumps this session"));
        QVERIFY2(notices.size() <= streamed / 250 + 2, qPrintable(QStringLiteral("%1 notices").arg(notices.size())));
    }

    // Drag, double-click, triple-click, Select All and Ctrl+Shift+C give the text as
    // shown, lines ended by "\n"; the switch gets nothing.
    void selectionToClipboard() {
        ShownTerminal t;
        QVERIFY(QTest::qWaitForWindowActive(&t.window));
        t.Feed("alpha BETA gamma\r\n\tdelta beta\r\nmaint> ");
        QTRY_COMPARE(t.view->verticalScrollBar()->maximum(), 0);
        QTest::qWait(40);
        CTRQDiagView& v = *t.view;
        QTest::mouseDClick(v.viewport(), Qt::LeftButton, {}, t.At(0, 7));
        QCOMPARE(v.SelectedText(), QStringLiteral("BETA"));
        QTest::mousePress(v.viewport(), Qt::LeftButton, {}, t.At(0, 7), 10);
        QCOMPARE(v.SelectedText(), QStringLiteral("alpha BETA gamma\n"));
        QTest::mouseRelease(v.viewport(), Qt::LeftButton, {}, t.At(0, 7));
        QTest::qWait(QApplication::doubleClickInterval() + 50);

        QTest::mousePress(v.viewport(), Qt::LeftButton, {}, t.At(0, 6));
        QTest::mouseMove(v.viewport(), t.At(1, 5));
        QTest::mouseRelease(v.viewport(), Qt::LeftButton, {}, t.At(1, 5));
        QCOMPARE(v.SelectedText(), QStringLiteral("BETA gamma\n     "));
        v.setFocus();
        QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("BETA gamma\n     "));
        QTest::keyClick(&v, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(v.SelectedText(), QStringLiteral("alpha BETA gamma\n        delta beta\nmaint> "));
        QCOMPARE(t.doc.GetTranscript(), std::string("alpha BETA gamma\r\n\tdelta beta\r\nmaint> "));
    }

    // A selection colours only what it covers: the line after a triple-clicked one,
    // and the unselected rest of a partly selected line, look as they did.
    void selectionDrawing() {
        ShownTerminal t;
        QVERIFY(QTest::qWaitForWindowActive(&t.window));
        t.Feed("alpha beta gamma\r\ndelta epsilon\r\nmaint> ");
        QTest::qWait(40);
        CTRQDiagView& v = *t.view;
        const int lh = v.LineHeight(), cw = v.CharWidth();
        auto row = [&](int line, int fromCol, int toCol) {
            return Picture(v).copy(fromCol * cw, line * lh, (toCol - fromCol) * cw, lh);
        };
        const QImage line0 = row(0, 0, 5), line1 = row(1, 0, 14), line0Tail = row(0, 6, 16);
        QTest::mouseDClick(v.viewport(), Qt::LeftButton, {}, t.At(0, 1));
        QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, t.At(0, 1));
        QCOMPARE(v.SelectedText(), QStringLiteral("alpha beta gamma\n"));
        QTRY_VERIFY(row(0, 0, 5) != line0);
        QCOMPARE(row(1, 0, 14), line1);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseDClick(v.viewport(), Qt::LeftButton, {}, t.At(0, 1));
        QCOMPARE(v.SelectedText(), QStringLiteral("alpha"));
        QTRY_COMPARE(row(0, 6, 16), line0Tail);
    }

    // The scrollback keys typed in the input line scroll the terminal; while it is
    // scrolled back new text leaves it there; keys typed in the terminal reach the
    // input line with the focus.
    void keyboardScrollbackAndFocus() {
        ShownTerminal t;
        CTRQDiagView& v = *t.view;
        v.SetInputWidget(t.input);
        QSignalSpy back(&v, &CTRQDiagView::scrolledBack);
        QVERIFY(QTest::qWaitForWindowActive(&t.window));
        for (int i = 0; i < 200; ++i) t.Feed("line " + std::to_string(i) + "\r\n");
        QScrollBar* sb = v.verticalScrollBar();
        QTRY_VERIFY(sb->maximum() > 0 && sb->value() == sb->maximum());
        t.input->setFocus();
        QTest::keyClicks(t.input, "ab");
        QTest::keyClick(t.view, Qt::Key_PageUp, Qt::ShiftModifier);
        const int up = sb->value();
        QVERIFY(up < sb->maximum());
        QVERIFY(!v.Following());
        QCOMPARE(back.count(), 1);
        QTest::keyClick(t.input, Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(sb->value(), 0);
        QCOMPARE(t.input->selectedText(), QString());  // the edit's own selection keys did not run
        QTest::keyClick(t.input, Qt::Key_PageDown, Qt::ShiftModifier);
        QVERIFY(sb->value() > 0);
        const int reading = sb->value();
        const int oldMax = sb->maximum();
        for (int i = 0; i < 50; ++i) t.Feed("more\r\n");
        QTRY_VERIFY(sb->maximum() > oldMax);
        QTest::qWait(40);
        QCOMPARE(sb->value(), reading);
        QTest::keyClick(t.input, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(sb->value(), sb->maximum());
        QVERIFY(v.Following());
        QCOMPARE(back.last().at(0).toBool(), false);

        // Typing after a click in the terminal goes on in the input line.
        const std::string before = t.doc.GetTranscript();
        QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, t.At(0, 0));
        v.setFocus();
        QTest::keyClicks(&v, "cd");
        QCOMPARE(t.input->text(), QStringLiteral("abcd"));
        QVERIFY(t.input->hasFocus());
        QCOMPARE(t.doc.GetTranscript(), before);
    }

    // Ctrl+F from the input line; matches ignore case, span every line held, follow
    // Next/Previous, and go with the text at an overflow dump. Closed, the bar takes
    // no keys.
    void findAcrossLinesAndAfterDump() {
        ShownTerminal t;
        QVERIFY(QTest::qWaitForWindowActive(&t.window));
        t.Feed("alpha BETA\r\n");
        for (int i = 0; i < 100; ++i) t.Feed("filler line\r\n");
        t.Feed("x beta y Beta\r\nmaint> ");
        QTest::qWait(40);  // arrival scrolls to the end: let it happen first
        CTRQDiagView& v = *t.view;
        t.input->setFocus();
        QTest::keyClick(t.input, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(v.FindBar()->isVisible());
        QTest::keyClicks(v.FindBar()->Edit(), "beta");
        const std::vector<TextMatch> all = {{0, 6, 4}, {101, 2, 4}, {101, 9, 4}};
        QCOMPARE(v.Matches(), all);
        auto currentVisible = [&] {
            const int y = v.Matches()[size_t(v.CurrentMatch())].line * v.LineHeight() - v.verticalScrollBar()->value();
            return y >= 0 && y + v.LineHeight() <= v.viewport()->height();
        };
        const int first = v.CurrentMatch();
        QVERIFY(currentVisible());
        QTest::keyClick(v.FindBar()->Edit(), Qt::Key_Return);
        QCOMPARE(v.CurrentMatch(), (first + 1) % 3);
        QVERIFY(currentVisible());
        QTest::keyClick(v.FindBar()->Edit(), Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClick(v.FindBar()->Edit(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(v.CurrentMatch(), (first + 2) % 3);
        QVERIFY(currentVisible());

        // An overflow dump takes the text away; what comes after is searched.
        const std::string filler(1000, 'f');
        while (!DumpFilesIn(t.dir.path())) t.Feed(filler + "\r\n");
        t.Feed("last BETA\r\n");
        QTest::qWait(40);
        v.FindNext();
        const int lastLine = v.Model().Snapshot().lineCount - 1;
        QCOMPARE(v.Matches(), (std::vector<TextMatch>{{lastLine, 5, 4}}));

        QTest::keyClick(v.FindBar()->Edit(), Qt::Key_Escape);
        QVERIFY(!v.FindBar()->isVisible());
        QVERIFY(v.Matches().empty());
        QTRY_VERIFY(t.input->hasFocus());
        QTest::keyClicks(QApplication::focusWidget(), "x\r");
        QCOMPARE(t.input->text(), QStringLiteral("x"));
        QCOMPARE(v.FindBar()->Text(), QStringLiteral("beta"));
    }

private:
    static bool DumpFilesIn(const std::string& dir) {
        return !QDir(QString::fromStdString(dir)).entryList({QStringLiteral("T*.dat")}).isEmpty();
    }
};

QTEST_MAIN(CTRQDiagViewTest)
#include "CTRQDiagViewTest.moc"
