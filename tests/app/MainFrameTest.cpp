// The main window as a user meets it: start-up with and without a valid command file,
// the menus and toolbar by their IDs, the enable rules, File > Open and Clear New.
#include "app/CMainFrame.h"
#include "platform/DialogRunner.h"
#include "platform/Profile.h"
#include "commands/CCommandBar.h"
#include "commands/CInputBoxBar.h"
#include "res/resource.h"
#include "terminal/CTRQDiagDoc.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

class MainFrameTest : public QObject {
    Q_OBJECT
    MemoryProfile profile_;

private slots:
    void initTestCase() { Profile::install(&profile_); }
    void cleanupTestCase() { Profile::install(nullptr); }
    void init() { profile_.clear(); }

    void commandFileProblemsEndStartUp_data() {
        QTest::addColumn<QString>("contents");  // empty: no file at all
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("missing") << QString()
            << "Cannot open 'CmdConf.txt' file.\n\nThe program will be terminated..." << "File Error";
        QTest::newRow("count digit 5") << "{a[A]5;}"
            << "'CmdConf.txt' file has invalid data.\n\nThe program will be terminated..." << "File Format Error";
    }
    void commandFileProblemsEndStartUp() {
        QFETCH(QString, contents);
        QFETCH(QString, text);
        QFETCH(QString, title);
        TempDir dir;
        if (!contents.isEmpty()) dir.write("CmdConf.txt", contents.toStdString());
        ScopedChdir cd(dir.path());
        ScriptedMessages boxes;
        CMainFrame frame;
        QVERIFY(!frame.OnCreate());
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].text, text.toStdString());
        QCOMPARE(boxes.boxes()[0].title, title.toStdString());
        QVERIFY(boxes.boxes()[0].icon == MsgIcon::Error);
    }

    void sampleTableFillsTheInputList() {
        TempDir dir;
        dir.write("CmdConf.txt", "{a b[First] 0;c[Second] 0;d[Third] 1 [N];}");
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QComboBox* list = FindControl<QComboBox>(frame.findChild<CInputBoxBar*>(), IDC_INPUT_COMMANDS);
        QVERIFY(list);
        QStringList names;
        for (int i = 0; i < list->count(); ++i) names << list->itemText(i);
        QCOMPARE(names, (QStringList{"First", "Second", "Trace Disable", "Show Trace Setup Info", "Third"}));
        QCOMPARE(frame.windowTitle(), QString("Untitled - PMX Remote Diagnostic Tool"));
    }

    void menusToolbarAndBarsCarryTheirIds() {
        TempDir dir;
        dir.write("CmdConf.txt", kTwoCommandConf);
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QStringList top;
        for (QAction* a : frame.menuBar()->actions()) top << a->text();
        QCOMPARE(top, (QStringList{"&File", "&Connection", "Co&mmands", "&View", "&PhoneBook", "&Help"}));
        const std::pair<int, const char*> items[] = {
            {ID_FILE_OPEN, "&Open..."}, {ID_CAPTURE_ON, "Capture On"}, {ID_CAPTURE_OFF, "Capture Off"},
            {ID_APP_EXIT, "E&xit"}, {ID_LAN_CONNECT, "&LAN Connect"}, {ID_ISDN_CONFIGURE, "ISDN Con&figure"},
            {ID_CMD_B_CHANNEL_LISTENING, "B Channel Listeming"}, {ID_CMD_LOG_OUT, "Log Out"},
            {ID_VIEW_TOOLBAR, "&Toolbar"}, {ID_VIEW_COMMANDBAR, "Co&mmand Bar"},
            {ID_VIEW_INPUTBOXBAR, "&Input Box Bar"}, {ID_VIEW_CLEARNEW, "&Clear New"},
            {ID_PHONEBOOK, "PhoneBook"}, {ID_APP_ABOUT, "&About PMX Remote Diagnostic Tool..."}};
        for (const auto& [id, text] : items) {
            QVERIFY2(frame.action(id), qPrintable(QString::number(id)));
            QCOMPARE(frame.action(id)->text(), QString(text));
        }
        QCOMPARE(frame.action(ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(frame.action(ID_VIEW_COMMANDBAR)->statusTip(), QString("Show or hide the command bar"));
        QCOMPARE(frame.action(ID_VIEW_INPUTBOXBAR)->toolTip(), QString("Toggle CommandBar"));

        auto* tb = FindControl<QToolBar>(&frame, AFX_IDW_TOOLBAR);
        QVERIFY(tb);
        QList<int> order;
        for (QAction* a : tb->actions()) order << (a->isSeparator() ? 0 : ControlId(a));
        QCOMPARE(order, (QList<int>{57601, 32863, 32864, 0, 32774, 32775, 0, 32777, 32778, 0, 32852,
                                    32853, 0, 32855, 32856, 0, 32833, 0, 57664}));
        for (int id : {IDC_INPUT_EDIT, IDC_INPUT_ENTER, IDC_INPUT_COMMANDS, IDC_INPUT_EXECUTE})
            QVERIFY(FindById(frame.findChild<CInputBoxBar*>(), id));
        QCOMPARE(frame.statusBar()->currentMessage(), QString("Ready"));
        for (int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL})
            QVERIFY(FindControl<QLabel>(frame.statusBar(), id));
    }

    // Every menu can be worked from the keyboard: no two items share a mnemonic; and
    // however small the window is made, no bar is drawn over another.
    void keyboardMnemonicsAndMinimumSize() {
        TempDir dir;
        dir.write("CmdConf.txt", kTwoCommandConf);
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        QList<QMenu*> menus{nullptr};
        for (QAction* a : frame.menuBar()->actions()) menus << a->menu();
        for (QMenu* menu : menus) {
            QMap<QChar, QString> used;
            for (QAction* a : menu ? menu->actions() : frame.menuBar()->actions()) {
                const QString text = a->text();
                const qsizetype amp = text.indexOf('&');
                if (amp < 0 || amp + 1 >= text.size()) continue;
                const QChar key = text[amp + 1].toLower();
                QVERIFY2(!used.contains(key), qPrintable(used[key] + " / " + text));
                used[key] = text;
            }
        }

        ScriptedMessages boxes;
        frame.show();
        frame.session().setLinkConnected(LinkKind::Lan, true);  // a login needs a link
        frame.session().setLinkWriter(LinkKind::Lan, [](const char*, int n) { return n; });
        SetModalHook([](QDialog& d) {
            d.findChild<QLineEdit*>()->setText(QStringLiteral("velmod"));
            d.accept();
            return d.result();
        });
        frame.session().RequestPassword();
        SetModalHook(nullptr);
        frame.action(ID_VIEW_COMMANDBAR)->trigger();
        QVERIFY(frame.findChild<CCommandBar*>());
        frame.resize(400, 300);
        QTRY_VERIFY(frame.width() >= 860 && frame.height() >= 480);
        const QRect bar = frame.findChild<CCommandBar*>()->geometry();
        QVERIFY(bar.height() > 0);
        QVERIFY(!bar.intersects(frame.findChild<CInputBoxBar*>()->geometry()));
        QVERIFY(!bar.intersects(frame.statusBar()->geometry()));
        QVERIFY(frame.centralWidget()->height() > 0);
        frame.session().setLinkConnected(LinkKind::Lan, false);
        frame.session().setLinkWriter(LinkKind::Lan, {});
    }

    void enableRules() {
        TempDir dir;
        dir.write("CmdConf.txt", kTwoCommandConf);
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        frame.session().updateState();
        QVERIFY(frame.action(ID_FILE_OPEN)->isEnabled());
        QVERIFY(!frame.action(ID_FILE_SAVE)->isEnabled());
        QVERIFY(!frame.action(ID_FILE_SAVE_AS)->isEnabled());
        QVERIFY(!frame.action(ID_VIEW_COMMANDBAR)->isEnabled());  // no access mode yet
        QVERIFY(frame.action(ID_PHONEBOOK)->isEnabled());
        for (LinkKind kind : {LinkKind::Serial, LinkKind::Modem, LinkKind::Lan, LinkKind::Isdn}) {
            frame.session().setLinkConnected(kind, true);
            frame.session().updateState();
            QVERIFY(!frame.action(ID_FILE_OPEN)->isEnabled());
            QVERIFY(!frame.action(ID_FILE_SAVE)->isEnabled());
            frame.session().setLinkConnected(kind, false);
        }
        frame.session().updateState();
        QVERIFY(frame.action(ID_FILE_OPEN)->isEnabled());
    }

    void openShowsTheFileAndClearNewEmptiesIt() {
        TempDir dir;
        dir.write("CmdConf.txt", kTwoCommandConf);
        dir.write("trace.txt", "line one\r\nline two\nPASSWORD:\n");
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        ScriptedMessages boxes;
        boxes.answerSave(dir.file("trace.txt"));
        frame.action(ID_FILE_OPEN)->trigger();
        QCOMPARE(frame.session().document().GetTranscript(), std::string("line one\rline two\rPASSWORD:\r"));
        QCOMPARE(frame.windowTitle(), QString("trace.txt - PMX Remote Diagnostic Tool"));
        QAction* recent = FindControl<QAction>(&frame, ID_FILE_MRU_FILE1);
        QVERIFY(recent && recent->isVisible() && recent->text() == QStringLiteral("&1 trace.txt"));
        QVERIFY(!FindControl<QAction>(&frame, ID_FILE_MRU_FILE1 + 1)->isVisible());
        QCOMPARE(profile_.getString("Recent File List", "File1", ""), dir.file("trace.txt"));

        boxes.answerSave(dir.file("missing.txt"));
        frame.action(ID_FILE_OPEN)->trigger();
        QVERIFY(boxes.sawText("Failed to open document."));
        QCOMPARE(frame.session().document().GetTranscript(), std::string("line one\rline two\rPASSWORD:\r"));

        frame.action(ID_VIEW_CLEARNEW)->trigger();
        QCOMPARE(frame.session().document().GetTranscript(), std::string());
        QCOMPARE(frame.windowTitle(), QString("Untitled - PMX Remote Diagnostic Tool"));
    }

    void aboutBoxAndBarToggles() {
        TempDir dir;
        dir.write("CmdConf.txt", kTwoCommandConf);
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        frame.show();
        QString caption;
        SetModalHook([&](QDialog& d) { caption = d.windowTitle(); return int(QDialog::Accepted); });
        frame.action(ID_APP_ABOUT)->trigger();
        SetModalHook(nullptr);
        QCOMPARE(caption, QString("About PMX Remote Diagnostic Tool"));

        frame.session().updateState();
        QVERIFY(frame.action(ID_VIEW_INPUTBOXBAR)->isChecked());
        frame.action(ID_VIEW_INPUTBOXBAR)->trigger();
        QVERIFY(!frame.findChild<CInputBoxBar*>()->isVisible());
        QVERIFY(!frame.action(ID_VIEW_INPUTBOXBAR)->isChecked());
        frame.action(ID_VIEW_TOOLBAR)->trigger();
        QVERIFY(!FindControl<QToolBar>(&frame, AFX_IDW_TOOLBAR)->isVisible());
    }

    void keysTypedIntoTheViewSendNothing() {
        TempDir dir;
        dir.write("CmdConf.txt", kTwoCommandConf);
        ScopedChdir cd(dir.path());
        CMainFrame frame;
        QVERIFY(frame.OnCreate());
        std::string sent;
        frame.session().setLinkWriter(LinkKind::Serial, [&](const char* t, int n) { sent.append(t, n); return 1; });
        frame.session().setLinkConnected(LinkKind::Serial, true);
        QTest::keyClicks(frame.centralWidget(), "t d");
        QTest::keyClick(frame.centralWidget(), Qt::Key_Return);
        QCOMPARE(sent, std::string());
        frame.session().setLinkConnected(LinkKind::Serial, false);
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
