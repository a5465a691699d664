// The modem settings dialog of the telephony layer.
#include "links/CLineConfigDlg.h"

#include "platform/DialogRunner.h"
#include "platform/MessageService.h"
#include "res/resource.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CLineConfigDlg::CLineConfigDlg(const TelephonyModem& modem, QWidget* parent)
    : QDialog(parent), modem_(modem) {
    SetControlId(this, IDD_LINE_CONFIG);
    setWindowTitle(QString::fromLatin1(modem.name.c_str()));
    auto* form = new QFormLayout;
    name_ = new QLineEdit(QString::fromLatin1(modem.name.c_str()), this);
    SetControlId(name_, IDC_LINE_NAME);
    name_->setMaxLength(80);
    path_ = new QLineEdit(QString::fromLatin1(modem.path.c_str()), this);
    SetControlId(path_, IDC_LINE_PATH);
    path_->setMaxLength(255);
    init_ = new QLineEdit(QString::fromLatin1(modem.init.c_str()), this);
    SetControlId(init_, IDC_LINE_INIT);
    init_->setMaxLength(60);
    form->addRow(QStringLiteral("Modem"), name_);
    form->addRow(QStringLiteral("Device"), path_);
    form->addRow(QStringLiteral("Init string"), init_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL);
    connect(buttons, &QDialogButtonBox::accepted, this, &CLineConfigDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CLineConfigDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CLineConfigDlg::accept() {
    const std::string path = path_->text().trimmed().toLatin1().toStdString();
    const std::string init = init_->text().trimmed().toLatin1().toStdString();
    // The init string goes to the modem as one command line.
    const bool control = std::any_of(init.begin(), init.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (path.empty() || control) {
        ShowMessage("Please enter the modem's device and an init string of printable characters.",
                    "", MsgIcon::Warning);
        return;
    }
    const std::string name = name_->text().trimmed().toLatin1().toStdString();
    modem_.name = name.empty() ? "AT modem on " + path : name;
    modem_.path = path;
    modem_.init = init;
    QDialog::accept();
}
