// The argument dialogs: caption, 8-character edits, the empty-field refusal, and what
// closing hands back to the command line builder.
#include "platform/DialogRunner.h"
#include "commands/BuildCommandLine.h"
#include "commands/CCommandArgDlg.h"
#include "commands/CCommandArgsDlg.h"
#include "commands/QtArgumentPrompter.h"
#include "res/resource.h"
#include "tests/support/ScriptedMessages.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class ArgDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetModalHook(nullptr); }

    void captionsAndLimits() {
        CCommandArgDlg one("Board \xe9 No");
        QCOMPARE(one.windowTitle(), QStringLiteral("Enter Command Argument"));
        auto* group = FindControl<QGroupBox>(&one, IDC_ARG_GROUP);
        QVERIFY(group);
        QCOMPARE(group->title(), QString::fromLatin1("Board \xe9 No"));
        auto* edit = FindControl<QLineEdit>(&one, IDC_ARG_EDIT1);
        QVERIFY(edit);
        QTest::keyClicks(edit, "1234567890");
        QCOMPARE(edit->text(), QStringLiteral("12345678"));

        CCommandArgsDlg two("Address", "Length");
        QCOMPARE(two.windowTitle(), QStringLiteral("Enter Command Arguments"));
        auto* group2 = FindControl<QGroupBox>(&two, IDC_ARGS_GROUP);
        QVERIFY(group2);
        QCOMPARE(group2->title(), QStringLiteral("Address, Length"));
        for (int id : {int(IDC_ARG_EDIT1), int(IDC_ARG_EDIT2)}) {
            auto* e = FindControl<QLineEdit>(&two, id);
            QVERIFY(e);
            QTest::keyClicks(e, "abcdefghij");
            QCOMPARE(e->text(), QStringLiteral("abcdefgh"));
        }
        QVERIFY(FindControl<QPushButton>(&two, IDOK));
        QVERIFY(!FindControl<QPushButton>(&two, IDCANCEL));
    }

    void emptyFieldKeepsTheDialogOpen() {
        ScriptedMessages boxes;
        CCommandArgsDlg dlg("A", "B");
        dlg.show();
        FindControl<QLineEdit>(&dlg, IDC_ARG_EDIT1)->setText("12");
        FindControl<QLineEdit>(&dlg, IDC_ARG_EDIT2)->setText("   ");
        auto* ok = FindControl<QPushButton>(&dlg, IDOK);
        ok->click();
        QVERIFY(dlg.isVisible());
        QCOMPARE(boxes.count(), size_t(1));
        auto box = boxes.boxes().front();
        QCOMPARE(box.text, std::string("Empty field is not allowed..."));
        QCOMPARE(box.title, std::string("Input Error"));
        QVERIFY(box.icon == MsgIcon::Error);
        QVERIFY(dlg.firstValue().empty());

        FindControl<QLineEdit>(&dlg, IDC_ARG_EDIT2)->setText(" 7 ");
        ok->click();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.firstValue(), std::string("12"));
        QCOMPARE(dlg.secondValue(), std::string(" 7 "));
        QCOMPARE(boxes.count(), size_t(1));

        CCommandArgDlg single("C");
        single.show();
        FindControl<QPushButton>(&single, IDOK)->click();
        QVERIFY(single.isVisible());
        QCOMPARE(boxes.count(), size_t(2));
        single.close();
    }

    void escapeHandsBackEmptyValues() {
        CCommandArgDlg one("C");
        one.show();
        auto* edit = FindControl<QLineEdit>(&one, IDC_ARG_EDIT1);
        edit->setText("99");
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!one.isVisible());
        QCOMPARE(one.result(), int(QDialog::Rejected));
        QVERIFY(one.value().empty());

        CCommandArgsDlg two("A", "B");
        two.show();
        FindControl<QLineEdit>(&two, IDC_ARG_EDIT1)->setText("1");
        FindControl<QLineEdit>(&two, IDC_ARG_EDIT2)->setText("2");
        two.close();  // the close box
        QCOMPARE(two.result(), int(QDialog::Rejected));
        QVERIFY(two.firstValue().empty() && two.secondValue().empty());
    }

    void prompterBuildsLinesThroughTheDialogs() {
        CommandTable table;
        QVERIFY(table.Parse("{t b[Board Trace]1[Board];d m[Dump]2[Addr][Len];}"));
        table.InsertBuiltIns();
        QtArgumentPrompter prompter;

        QString seenCaption;
        SetModalHook([&](QDialog& d) {
            seenCaption = FindControl<QGroupBox>(&d, IDC_ARG_GROUP)->title();
            FindControl<QLineEdit>(&d, IDC_ARG_EDIT1)->setText("  4 ");
            FindControl<QPushButton>(&d, IDOK)->click();
            return d.result();
        });
        QCOMPARE(BuildCommandLine(table, 0, prompter), std::string("t b 4"));
        QCOMPARE(seenCaption, QStringLiteral("Board"));

        SetModalHook([&](QDialog& d) {
            seenCaption = FindControl<QGroupBox>(&d, IDC_ARGS_GROUP)->title();
            FindControl<QLineEdit>(&d, IDC_ARG_EDIT1)->setText("1000");
            FindControl<QLineEdit>(&d, IDC_ARG_EDIT2)->setText("20");
            FindControl<QPushButton>(&d, IDOK)->click();
            return d.result();
        });
        QCOMPARE(BuildCommandLine(table, 1, prompter), std::string("d m 1000 20"));
        QCOMPARE(seenCaption, QStringLiteral("Addr, Len"));

        // Typed, then closed without OK: nothing is sent but the carriage return.
        SetModalHook([](QDialog& d) {
            for (int id : {int(IDC_ARG_EDIT1), int(IDC_ARG_EDIT2)})
                if (auto* e = FindControl<QLineEdit>(&d, id)) e->setText("5");
            d.reject();
            return d.result();
        });
        QCOMPARE(BuildCommandLine(table, 0, prompter), std::string());
        QCOMPARE(BuildCommandLine(table, 1, prompter), std::string());
    }
};

QTEST_MAIN(ArgDialogsTest)
#include "ArgDialogsTest.moc"
