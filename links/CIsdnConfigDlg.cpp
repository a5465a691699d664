// The ISDN Configure dialog: the run's number list in a drop-down combo and the
// store step on OK and on each pick from the list.
#include "links/CIsdnConfigDlg.h"

#include "platform/DialogRunner.h"
#include "links/IsdnNumbers.h"
#include "links/IsdnTexts.h"
#include "res/resource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CIsdnConfigDlg::CIsdnConfigDlg(QWidget* parent) : QDialog(parent) {
    SetControlId(this, IDD_ISDN_CONFIG);
    setWindowTitle(QString::fromLatin1(isdn::kDialogCaption));

    auto* group = new QGroupBox(QString::fromLatin1(isdn::kNumberGroup), this);
    combo_ = new QComboBox(group);
    SetControlId(combo_, IDC_ISDN_NUMBER);
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);  // a typed number joins the list once stored
    combo_->setMinimumWidth(200);
    auto* inner = new QVBoxLayout(group);
    inner->addWidget(combo_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    SetControlId(ok, IDOK);
    SetControlId(cancel, IDCANCEL);
    connect(ok, &QPushButton::clicked, this, &CIsdnConfigDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CIsdnConfigDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);

    const std::string stored = ReadStoredIsdnNumber();
    IsdnNumberList& list = IsdnNumberList::instance();
    list.addIfMissing(stored);
    std::vector<std::string> sorted = list.entries();
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& n : sorted) combo_->addItem(QString::fromLatin1(n.c_str()));
    const QString shown = QString::fromLatin1(stored.c_str());
    combo_->setCurrentIndex(combo_->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive));
    combo_->setEditText(shown);

    // Connected last: filling the list is not a pick. The text read is the picked
    // entry's, not the one the edit field showed before the pick.
    connect(combo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) StoreNumber();
    });
    combo_->setFocus();
}

QString CIsdnConfigDlg::number() const { return combo_->currentText(); }

void CIsdnConfigDlg::accept() {
    QDialog::accept();
    StoreNumber();
}

void CIsdnConfigDlg::StoreNumber() {
    StoreIsdnNumber(number().toLatin1().toStdString());
}
