// About box: icon, program name, version, OK.
#include "app/CAboutDlg.h"
#include "app/AppIcons.h"
#include "platform/DialogRunner.h"
#include "res/resource.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    SetControlId(this, IDD_ABOUTBOX);
    setWindowTitle(QStringLiteral("About PMX Remote Diagnostic Tool"));
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QStringLiteral("PMX Remote Diagnostic Tool"), this));
    texts->addWidget(new QLabel(QStringLiteral("Version 1.0Ac"), this));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    top->addWidget(ok, 0, Qt::AlignTop);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    setFixedSize(sizeHint());
}
