// The command bar, the input box and the Commands menu through the real frame, with a
// serial link on a pty: what each access mode shows and enables, the lines each
// sender puts on the wire, the settings of the button assignment and the Customize
// dialog, and the senders with no link.
#include "app/CommandMenuTable.h"
#include "commands/CCommandBar.h"
#include "commands/BuildCommandLine.h"
#include "commands/CCommandBarCustomizeDlg.h"
#include "commands/CInputBoxBar.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

#include <fstream>
#include <sstream>

using frametest::DialogScript;
using frametest::SerialHookup;
using linktest::PtyPair;

namespace {
std::string SampleConf() {
    std::ifstream in(PMX_SAMPLES_DIR "/CmdConf.txt", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// What the far end received, read until expected bytes arrived (or a time-out).
std::string ReadExpected(PtyPair& pty, const std::string& expected) {
    std::string got;
    for (int i = 0; i < 40 && got.size() < expected.size(); ++i) got += pty.ReadFor(50);
    return got + pty.ReadFor(30);
}

QString Name(CMainFrame& f, int position) {
    return f.findChild<CInputBoxBar*>()->commandList()->itemText(position);
}
QString Caption(QPushButton* b) { return b->text().replace('\n', ' '); }
} // namespace

class CommandBarTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::unique_ptr<ScopedChdir> cwd_;
    std::unique_ptr<MemoryProfile> profile_;

    // Logs in through the Enter Password dialog; the password itself reaches the peer.
    void login(CMainFrame& f, DialogScript& dialogs, PtyPair& pty, const std::string& password) {
        dialogs.password = password;
        f.session().RequestPassword();
        QCOMPARE(ReadExpected(pty, password + "\r"), password + "\r");
    }

private slots:
    void initTestCase() {
        dir_.write("CmdConf.txt", SampleConf());
        cwd_ = std::make_unique<ScopedChdir>(dir_.path());
    }
    void init() {
        profile_ = std::make_unique<MemoryProfile>();  // a fresh settings store per test
        Profile::install(profile_.get());
    }
    void cleanup() { Profile::install(nullptr); }

    void accessModeDecidesButtonsAndMenu_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("firstSlot");
        QTest::addColumn<bool>("typedLogOut");
        QTest::newRow("monitor, Log Out") << "quarth" << 0 << false;
        QTest::newRow("monitor, typed x") << "quarth" << 0 << true;
        QTest::newRow("maintenance, Log Out") << "velmod" << 12 << false;
        QTest::newRow("maintenance, typed X") << "velmod" << 12 << true;
    }
    void accessModeDecidesButtonsAndMenu() {
        QFETCH(QString, password);
        QFETCH(int, firstSlot);
        QFETCH(bool, typedLogOut);
        PtyPair pty;
        QVERIFY(pty.ok());
        CMainFrame f;
        QVERIFY(f.OnCreate());
        SerialHookup serial(f, pty.path());
        QVERIFY(serial.ok());
        DialogScript dialogs;

        auto enabled = [&](int id) { f.session().updateState(); return f.action(id)->isEnabled(); };
        for (const CommandMenuItem& item : kCommandMenu) QVERIFY(!enabled(item.id));
        QVERIFY(!enabled(ID_CMD_LOG_OUT));
        QVERIFY(!enabled(ID_VIEW_COMMANDBAR));
        QVERIFY(!f.findChild<CCommandBar*>());

        login(f, dialogs, pty, password.toStdString());
        const bool monitor = firstSlot == 0;
        for (const CommandMenuItem& item : kCommandMenu)
            QCOMPARE(enabled(item.id), (item.position < kMonitorItems) == monitor);
        QVERIFY(enabled(ID_CMD_LOG_OUT));
        QVERIFY(enabled(ID_VIEW_COMMANDBAR));
        QVERIFY(!f.action(ID_VIEW_COMMANDBAR)->isChecked());

        f.action(ID_VIEW_COMMANDBAR)->trigger();
        CCommandBar* bar = f.findChild<CCommandBar*>();
        QVERIFY(bar);
        QCOMPARE(ControlId(bar), int(IDD_COMMANDBAR));
        QCOMPARE(f.dockWidgetArea(bar), Qt::RightDockWidgetArea);
        QCOMPARE(bar->allowedAreas(), Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
        QVERIFY(f.action(ID_VIEW_COMMANDBAR)->isChecked());
        for (int slot = 0; slot < 26; ++slot) {
            QPushButton* b = FindControl<QPushButton>(bar, kCommandBarButtonIds[slot]);
            QVERIFY(b);
            QCOMPARE(!b->isHidden(), slot >= firstSlot && slot < firstSlot + 12);
            // The default rule: slot s sends position s while the table reaches it.
            QCOMPARE(Caption(b), slot < 24 ? Name(f, slot) : QString());
            QCOMPARE(b->isEnabled(), slot < 24);
        }
        QVERIFY(!bar->customizeButton()->isHidden());

        if (typedLogOut) {
            f.findChild<CInputBoxBar*>()->edit()->setText(monitor ? "x" : "X");
            f.findChild<CInputBoxBar*>()->enterButton()->click();
            QCOMPARE(ReadExpected(pty, "x\r"), std::string(monitor ? "x\r" : "X\r"));
            QVERIFY(f.findChild<CInputBoxBar*>()->edit()->text().isEmpty());
        } else {
            f.action(ID_CMD_LOG_OUT)->trigger();
            QCOMPARE(ReadExpected(pty, "x\r"), std::string("x\r"));
        }
        QCOMPARE(int(f.session().accessMode()), int(AccessMode::None));
        QVERIFY(bar->isHidden());
        for (int slot = 0; slot < 26; ++slot) QVERIFY(bar->button(slot)->isHidden());
        for (const CommandMenuItem& item : kCommandMenu) QVERIFY(!enabled(item.id));
        QVERIFY(!enabled(ID_CMD_LOG_OUT));
        QVERIFY(!enabled(ID_VIEW_COMMANDBAR));
        QVERIFY(!f.action(ID_VIEW_COMMANDBAR)->isChecked());
    }

    void sendersPutTheirLinesOnTheLink_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("sender");  // menu:<id>, button:<slot>, list:<index>
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("Trace Disable") << "quarth" << QString("menu:%1").arg(ID_CMD_TRACE_DISABLE)
                                       << QStringList{} << QByteArray("t d\r") << 0;
        QTest::newRow("Show Trace Setup Info") << "quarth" << QString("menu:%1").arg(ID_CMD_SHOW_TRACE_SETUP)
                                               << QStringList{} << QByteArray("t p\r") << 0;
        QTest::newRow("menu, two arguments") << "quarth" << QString("menu:%1").arg(ID_CMD_DUMP_MEMORY)
                                             << QStringList{"100", " 20 "} << QByteArray("d m 100 20\r") << 1;
        QTest::newRow("menu, arguments cancelled") << "velmod" << QString("menu:%1").arg(ID_CMD_B_CHANNEL_LISTENING)
                                                   << QStringList{} << QByteArray("\r") << 1;
        QTest::newRow("button, one argument") << "quarth" << "button:0" << QStringList{"7"}
                                              << QByteArray("t b 7\r") << 1;
        QTest::newRow("button, cancelled") << "quarth" << "button:0" << QStringList{}
                                           << QByteArray("\r") << 1;
        QTest::newRow("button 1023 is slot 23") << "velmod" << "button:23" << QStringList{"3", "On"}
                                                << QByteArray("s w 3 On\r") << 1;
        QTest::newRow("button, no arguments") << "velmod" << "button:12" << QStringList{}
                                              << QByteArray("b c\r") << 0;
        QTest::newRow("Execute") << "velmod" << "list:6" << QStringList{"12"} << QByteArray("s s 12\r") << 1;
        QTest::newRow("Execute, nothing chosen") << "velmod" << "list:-1" << QStringList{} << QByteArray() << 0;
        QTest::newRow("Execute, cancelled") << "velmod" << "list:4" << QStringList{} << QByteArray() << 1;
    }
    void sendersPutTheirLinesOnTheLink() {
        QFETCH(QString, password);
        QFETCH(QString, sender);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, wire);
        QFETCH(int, dialogs);
        PtyPair pty;
        QVERIFY(pty.ok());
        CMainFrame f;
        QVERIFY(f.OnCreate());
        SerialHookup serial(f, pty.path());
        QVERIFY(serial.ok());
        DialogScript script;
        login(f, script, pty, password.toStdString());
        f.session().updateState();
        for (const QString& a : arguments) script.arguments.push_back(a.toStdString());

        const QString kind = sender.section(':', 0, 0);
        const int n = sender.section(':', 1).toInt();
        QComboBox* list = f.findChild<CInputBoxBar*>()->commandList();
        if (kind == "menu") {
            f.action(n)->trigger();
        } else if (kind == "button") {
            f.action(ID_VIEW_COMMANDBAR)->trigger();
            QPushButton* b = FindControl<QPushButton>(f.findChild<CCommandBar*>(), n == 23 ? 1023 : kCommandBarButtonIds[n]);
            QVERIFY(b && !b->isHidden() && b->isEnabled());
            b->click();
        } else {
            QVERIFY(!list->isHidden());
            QVERIFY(!f.findChild<CInputBoxBar*>()->executeButton()->isHidden());
            list->setCurrentIndex(n);
            f.findChild<CInputBoxBar*>()->executeButton()->click();
        }
        QCOMPARE(QByteArray::fromStdString(ReadExpected(pty, wire.toStdString())), wire);
        QCOMPARE(script.seen(IDD_COMMAND_ARG) + script.seen(IDD_COMMAND_ARGS), dialogs);
        if (kind == "list" && wire.isEmpty()) QVERIFY(list->currentText().isEmpty());
    }

    void executeIgnoresTextTypedOverAChoice() {
        PtyPair pty;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        SerialHookup serial(f, pty.path());
        QVERIFY(serial.ok());
        QComboBox* list = f.findChild<CInputBoxBar*>()->commandList();
        QCOMPARE(list->count(), 24);
        QCOMPARE(list->itemText(2), QStringLiteral("Trace Disable"));
        list->setCurrentIndex(2);
        list->setEditText("rxo 1");
        f.findChild<CInputBoxBar*>()->executeButton()->click();
        QCOMPARE(pty.ReadFor(150), std::string());
        list->setCurrentIndex(2);
        f.findChild<CInputBoxBar*>()->executeButton()->click();
        QCOMPARE(ReadExpected(pty, "t d\r"), std::string("t d\r"));
    }

    void enterSendsUpToFortyCharacters() {
        PtyPair pty;
        CMainFrame f;
        QVERIFY(f.OnCreate());
        SerialHookup serial(f, pty.path());
        QVERIFY(serial.ok());
        ScriptedMessages boxes;
        QLineEdit* edit = f.findChild<CInputBoxBar*>()->edit();
        const QString long41(41, 'a');
        edit->setText(long41);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].text, std::string("Cannot enter more than 40 characters..."));
        QCOMPARE(boxes.boxes()[0].title, std::string("Input Error"));
        QVERIFY(boxes.boxes()[0].icon == MsgIcon::Error);
        QCOMPARE(edit->text(), long41);
        QCOMPARE(pty.ReadFor(150), std::string());

        const std::string forty = "s s 1234567890123456789012345678901234 9";
        QCOMPARE(forty.size(), size_t(40));
        edit->setText(QString::fromStdString(forty));
        f.findChild<CInputBoxBar*>()->enterButton()->click();
        QCOMPARE(ReadExpected(pty, forty + "\r"), forty + "\r");
        QVERIFY(edit->text().isEmpty());
        QCOMPARE(boxes.count(), size_t(1));
    }

    // Refusals are told: commands that do not fit in the table (one box at start, and
    // the program goes on), and a built line over 64 characters (nothing goes out).
    void refusalsAreTold() {
        std::string conf = "{" + std::string(60, 'a') + "[Long]1[Value];";
        for (int i = 2; i <= 40; ++i) conf += "c" + std::to_string(i) + "[N" + std::to_string(i) + "]0;";
        dir_.write("CmdConf.txt", conf + "}");
        ScriptedMessages boxes;
        CMainFrame f;
        const bool created = f.OnCreate();
        dir_.write("CmdConf.txt", SampleConf());
        QVERIFY(created);
        QCOMPARE(boxes.count(), size_t(1));
        QVERIFY2(boxes.boxes()[0].text.find(" 4 commands were ignored") != std::string::npos,
                 boxes.boxes()[0].text.c_str());
        QCOMPARE(f.findChild<CInputBoxBar*>()->commandList()->count(), 38);

        PtyPair pty;
        QVERIFY(pty.ok());
        SerialHookup serial(f, pty.path());
        QVERIFY(serial.ok());
        DialogScript dialogs;
        dialogs.arguments = {"12345"};  // 60 + 1 + 5 characters
        boxes.clear();
        f.findChild<CInputBoxBar*>()->commandList()->setCurrentIndex(0);
        f.findChild<CInputBoxBar*>()->executeButton()->click();
        QCOMPARE(boxes.count(), size_t(1));
        QCOMPARE(boxes.boxes()[0].text, std::string(kCommandLineTooLongText));
        QCOMPARE(pty.ReadFor(100), std::string());
    }

    void withoutALinkNothingIsSentAndNothingTypedIsLost() {
        CMainFrame f;
        QVERIFY(f.OnCreate());
        DialogScript dialogs;
        dialogs.password = "velmod";
        f.session().RequestPassword();  // no link: the password goes nowhere, the access is granted
        QCOMPARE(int(f.session().accessMode()), int(AccessMode::Maintenance));
        f.session().updateState();
        f.action(ID_VIEW_COMMANDBAR)->trigger();
        ScriptedMessages boxes;
        auto expectNotConnected = [&](const char* what) {
            QVERIFY2(boxes.count() == 1, what);
            const RecordedBox b = boxes.boxes()[0];
            QCOMPARE(b.text, std::string("Port is not connected!"));
            QVERIFY(b.title.empty() || b.title == kAppTitle);
            QVERIFY(b.icon == MsgIcon::Warning);
            boxes.clear();
        };
        f.findChild<CCommandBar*>()->button(12)->click();
        expectNotConnected("button");
        f.action(ID_CMD_BOARD_CONFIG_TABLE)->trigger();
        expectNotConnected("menu item");

        // Typed text is kept for when a link is up; the status bar says why nothing went.
        f.findChild<CInputBoxBar*>()->edit()->setText("s k");
        f.findChild<CInputBoxBar*>()->enterButton()->click();
        QCOMPARE(f.findChild<CInputBoxBar*>()->edit()->text(), QStringLiteral("s k"));
        QCOMPARE(f.statusBar()->currentMessage(), QStringLiteral("Not connected"));
        f.statusBar()->clearMessage();
        f.findChild<CInputBoxBar*>()->commandList()->setCurrentIndex(12);
        f.findChild<CInputBoxBar*>()->executeButton()->click();
        QCOMPARE(f.findChild<CInputBoxBar*>()->commandList()->currentIndex(), 12);
        QCOMPARE(f.statusBar()->currentMessage(), QStringLiteral("Not connected"));
        QCOMPARE(boxes.count(), size_t(0));
        QCOMPARE(dialogs.seen(IDD_COMMAND_ARG) + dialogs.seen(IDD_COMMAND_ARGS), 0);

        f.action(ID_CMD_LOG_OUT)->trigger();
        expectNotConnected("Log Out");
        QCOMPARE(int(f.session().accessMode()), int(AccessMode::None));  // cleared all the same
        QVERIFY(f.findChild<CCommandBar*>()->isHidden());
        f.session().updateState();
        QVERIFY(!f.action(ID_CMD_LOG_OUT)->isEnabled());
        QVERIFY(!f.action(ID_CMD_SET_BOARD_TRACE)->isEnabled());
    }

    void storedAssignmentAndTheLastKey() {
        for (int b40 : {-1, 0}) {
            init();
            Profile::get().writeInt("FunctionBar", "B13", 5);
            if (b40 >= 0) Profile::get().writeInt("FunctionBar", "B40", b40);
            CMainFrame f;
            QVERIFY(f.OnCreate());
            DialogScript dialogs;
            dialogs.password = "velmod";
            f.session().RequestPassword();
            f.action(ID_VIEW_COMMANDBAR)->trigger();
            QCOMPARE(Caption(f.findChild<CCommandBar*>()->button(12)), Name(f, b40 < 0 ? 12 : 5));
            QCOMPARE(Profile::get().getInt("FunctionBar", "B13", -99), b40 < 0 ? 12 : 5);
            // Slots without a stored value are empty while Button 40 holds a command.
            QCOMPARE(f.findChild<CCommandBar*>()->button(13)->isEnabled(), b40 < 0);
        }
    }

    void customizeEmptiesTheThirdButton() {
        CMainFrame f;
        QVERIFY(f.OnCreate());
        DialogScript dialogs;
        dialogs.password = "quarth";
        f.session().RequestPassword();
        f.action(ID_VIEW_COMMANDBAR)->trigger();
        QCOMPARE(Caption(f.findChild<CCommandBar*>()->button(2)), QStringLiteral("Trace Disable"));

        struct Choice { int k; int index; };
        std::vector<Choice> choices;
        bool press = true;
        dialogs.other = [&](QDialog& d) {
            if (ControlId(&d) != IDD_COMMANDBAR_CUSTOMIZE) return int(QDialog::Rejected);
            auto& dlg = static_cast<CCommandBarCustomizeDlg&>(d);
            [&] {
                QCOMPARE(dlg.windowTitle(), QStringLiteral("Command Bar Customize"));
                for (int k : {1, 10, 11, 20, 21, 40}) QVERIFY(FindControl<QComboBox>(&d, CustomizeComboId(k)));
                QCOMPARE(CustomizeComboId(11), 1048);
                QCOMPARE(CustomizeComboId(21), 1060);
                QComboBox* three = dlg.list(3);
                QCOMPARE(three->count(), 25);
                QCOMPARE(three->itemText(0), QStringLiteral("<No Command>"));
                QCOMPARE(three->itemText(1), Name(f, 0));
            }();
            for (const Choice& c : choices) dlg.list(c.k)->setCurrentIndex(c.index);
            if (press) FindControl<QPushButton>(&d, IDOK)->click();
            else FindControl<QPushButton>(&d, IDCANCEL)->click();
            return d.result();
        };

        // Cancel changes nothing.
        choices = {{3, 0}, {40, 5}};
        press = false;
        f.findChild<CCommandBar*>()->customizeButton()->click();
        QVERIFY(f.findChild<CCommandBar*>()->button(2)->isEnabled());
        QCOMPARE(Profile::get().getInt("FunctionBar", "B40", -99), -1);

        // The user's choice stands with "B40" at -1, through the next fill too.
        press = true;
        choices = {{3, 0}};
        f.findChild<CCommandBar*>()->customizeButton()->click();
        QVERIFY(f.findChild<CCommandBar*>()->button(2)->text().isEmpty());
        QVERIFY(!f.findChild<CCommandBar*>()->button(2)->isEnabled());
        QCOMPARE(Profile::get().getInt("FunctionBar", "B40", -99), -1);
        auto stored = [&f] {  // what the next fill of the bar loads
            ButtonAssignment b;
            b.Load(f.findChild<CInputBoxBar*>()->commandList()->count());
            return b;
        };
        QCOMPARE(stored().at(2), ButtonAssignment::kNone);

        choices = {{3, 0}, {40, 5}, {1, 8}};
        f.findChild<CCommandBar*>()->customizeButton()->click();
        QPushButton* third = f.findChild<CCommandBar*>()->button(2);
        QVERIFY(third->text().isEmpty());
        QVERIFY(!third->isEnabled());
        QCOMPARE(Caption(f.findChild<CCommandBar*>()->button(0)), Name(f, 7));
        QCOMPARE(Profile::get().getInt("FunctionBar", "B3", -99), -1);
        QCOMPARE(Profile::get().getInt("FunctionBar", "B40", -99), 4);
        QCOMPARE(stored().at(0), 7);

        // The dialog opens on the stored choices.
        choices.clear();
        dialogs.other = [&](QDialog& d) {
            auto& dlg = static_cast<CCommandBarCustomizeDlg&>(d);
            [&] {
                QCOMPARE(dlg.list(3)->currentIndex(), 0);
                QCOMPARE(dlg.list(1)->currentIndex(), 8);
                QCOMPARE(dlg.list(40)->currentIndex(), 5);
                QCOMPARE(dlg.list(30)->currentIndex(), 0);
            }();
            d.reject();
            return d.result();
        };
        f.findChild<CCommandBar*>()->customizeButton()->click();
    }

    void viewTogglesCarryCheckMarksAndPrompts() {
        CMainFrame f;
        QVERIFY(f.OnCreate());
        f.show();
        DialogScript dialogs;
        dialogs.password = "quarth";
        f.session().RequestPassword();
        QAction* cmd = f.action(ID_VIEW_COMMANDBAR);
        QAction* box = f.action(ID_VIEW_INPUTBOXBAR);
        QCOMPARE(cmd->statusTip(), QStringLiteral("Show or hide the command bar"));
        QCOMPARE(box->statusTip(), QStringLiteral("Show or hide the input box bar"));
        QCOMPARE(cmd->toolTip(), QStringLiteral("Toggle CommandBar"));
        QCOMPARE(box->toolTip(), QStringLiteral("Toggle CommandBar"));
        f.session().updateState();
        QVERIFY(box->isChecked());
        box->trigger();
        QVERIFY(f.findChild<CInputBoxBar*>()->isHidden());
        QVERIFY(!box->isChecked());
        box->trigger();
        QVERIFY(box->isChecked());

        for (bool shown : {true, false, true}) {
            cmd->trigger();
            QCOMPARE(f.findChild<CCommandBar*>()->isVisible(), shown);
            QCOMPARE(cmd->isChecked(), shown);
        }
        QVERIFY(!f.findChild<CCommandBar*>()->button(0)->isHidden());
        // A change of access while the bar is shown swaps the group.
        dialogs.password = "velmod";
        f.session().RequestPassword();
        QVERIFY(f.findChild<CCommandBar*>()->button(0)->isHidden());
        QVERIFY(!f.findChild<CCommandBar*>()->button(12)->isHidden());
    }
};

QTEST_MAIN(CommandBarTest)
#include "CommandBarTest.moc"
