// Customize dialog: forty lists in two "Button Configuration" groups; list index i + 1
// is table position i, index 0 is "<No Command>".
#include "commands/CCommandBarCustomizeDlg.h"

#include "platform/DialogRunner.h"
#include "commands/CommandTable.h"
#include "res/resource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kPerGroup = ButtonAssignment::kSlots / 2;
constexpr int kRowsPerColumn = 10;
} // namespace

CCommandBarCustomizeDlg::CCommandBarCustomizeDlg(const CommandTable& table,
                                                 const ButtonAssignment& current, QWidget* parent)
    : QDialog(parent), chosen_(current) {
    setWindowTitle(QStringLiteral("Command Bar Customize"));
    SetControlId(this, IDD_COMMANDBAR_CUSTOMIZE);

    QStringList items{QString::fromLatin1(kNoCommand)};
    for (int i = 0; i < table.count(); ++i)
        items.append(QString::fromLatin1(table.entry(i).name.c_str()));

    auto* groups = new QHBoxLayout;
    for (int g = 0; g < 2; ++g) {
        auto* box = new QGroupBox(QStringLiteral("Button Configuration"), this);
        auto* grid = new QGridLayout(box);
        for (int i = 0; i < kPerGroup; ++i) {
            const int k = g * kPerGroup + i + 1;
            auto* label = new QLabel(QStringLiteral("Button %1").arg(k), box);
            auto* combo = new QComboBox(box);
            SetControlId(combo, CustomizeComboId(k));
            combo->addItems(items);
            const int value = current.at(k - 1);
            // A stored position the table does not reach has no item: no selection.
            combo->setCurrentIndex(value == ButtonAssignment::kNone ? 0
                                   : value + 1 < combo->count() ? value + 1 : -1);
            label->setBuddy(combo);
            const int column = (i / kRowsPerColumn) * 2;
            grid->addWidget(label, i % kRowsPerColumn, column);
            grid->addWidget(combo, i % kRowsPerColumn, column + 1);
        }
        groups->addWidget(box);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    SetControlId(buttons->button(QDialogButtonBox::Ok), IDOK);
    SetControlId(buttons->button(QDialogButtonBox::Cancel), IDCANCEL);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCommandBarCustomizeDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCommandBarCustomizeDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addWidget(buttons);
}

QComboBox* CCommandBarCustomizeDlg::list(int k) const {
    if (k < 1 || k > ButtonAssignment::kSlots) return nullptr;
    return FindControl<QComboBox>(const_cast<CCommandBarCustomizeDlg*>(this), CustomizeComboId(k));
}

void CCommandBarCustomizeDlg::accept() {
    for (int k = 1; k <= ButtonAssignment::kSlots; ++k) {
        const int selection = list(k)->currentIndex();
        chosen_.set(k - 1, selection <= 0 ? ButtonAssignment::kNone : selection - 1);
    }
    QDialog::accept();
}
