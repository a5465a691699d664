// Command bar widgets: the slot buttons with their control IDs, sized in dialog units
// of the bar's font, captions wrapped onto several lines.
#include "commands/CCommandBar.h"

#include "platform/DialogRunner.h"
#include "commands/CommandTable.h"
#include "res/resource.h"

#include <QFontMetrics>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace {
// Dialog units of the bar template.
constexpr int kBarWidthDu = 71;
constexpr int kButtonWidthDu = 53;
constexpr int kButtonHeightDu = 24;
constexpr int kRowPitchDu = 25;
constexpr int kTopDu = 19;
constexpr int kLeftDu = 10;
} // namespace

CCommandBar::CCommandBar(QWidget* parent) : QDockWidget(parent) {
    setObjectName(QStringLiteral("CommandBar"));
    setWindowTitle(QStringLiteral("Command Bar"));
    SetControlId(this, IDD_COMMANDBAR);
    setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    setTitleBarWidget(new QWidget(this));  // a dialog bar has no caption

    body_ = new QWidget(this);
    const QFontMetrics fm(body_->font());
    auto duX = [&fm](int du) { return du * fm.averageCharWidth() / 4; };
    auto duY = [&fm](int du) { return du * fm.height() / 8; };

    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(duX(kLeftDu), duY(kTopDu), duX(kBarWidthDu - kLeftDu - kButtonWidthDu),
                               duY(kTopDu) / 2);
    column->setSpacing(duY(kRowPitchDu - kButtonHeightDu));
    for (int slot = 0; slot < ButtonAssignment::kButtonSlots; ++slot) {
        auto* b = new QPushButton(QStringLiteral("Command %1").arg(slot + 1), body_);
        SetControlId(b, kCommandBarButtonIds[slot]);
        b->setProperty("slot", slot);
        b->setFixedSize(duX(kButtonWidthDu), duY(kButtonHeightDu));
        b->setAutoDefault(false);
        b->hide();  // shown by LayOut for the current access mode
        column->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, slot] { emit commandClicked(slot); });
    }
    column->addStretch(1);
    // Kept visible: without it the Customize dialog could not be reached at all.
    customize_ = new QPushButton(QStringLiteral("Customize"), body_);
    SetControlId(customize_, IDC_CMD_CUSTOMIZE);
    customize_->setAutoDefault(false);
    customize_->setFixedWidth(duX(kButtonWidthDu));
    customize_->setToolTip(QStringLiteral("Choose the command of each button"));
    column->addWidget(customize_);
    connect(customize_, &QPushButton::clicked, this, &CCommandBar::customizeClicked);
    setWidget(body_);
}

QPushButton* CCommandBar::button(int slot) const {
    if (slot < 0 || slot >= ButtonAssignment::kButtonSlots) return nullptr;
    return FindControl<QPushButton>(body_, kCommandBarButtonIds[slot]);
}

namespace {
// Greedy word wrap at blanks; a single word wider than room stays on its own line.
QStringList Wrap(const QString& name, const QFontMetrics& fm, int room) {
    QStringList lines;
    QString line;
    for (const QString& word : name.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && fm.horizontalAdvance(joined) > room) {
            lines.append(line);
            line = word;
        } else {
            line = joined;
        }
    }
    if (!line.isEmpty()) lines.append(line);
    return lines;
}
} // namespace

void CCommandBar::SetCaption(QPushButton* button, const QString& name) {
    // The frame and padding of a push button take a few pixels on each side.
    const int room = button->width() - 8;
    const int height = button->height() - 4;
    QFont font = body_->font();
    QStringList lines;
    // A long name gets a smaller font rather than being cut off at the edges.
    for (qreal size = font.pointSizeF(); ; size -= 0.5) {
        if (size > 0) font.setPointSizeF(size);
        const QFontMetrics fm(font);
        lines = Wrap(name, fm, room);
        bool fits = lines.size() * fm.lineSpacing() <= height;
        for (const QString& l : lines) fits = fits && fm.horizontalAdvance(l) <= room;
        if (fits || size <= 6) break;
    }
    button->setFont(font);
    button->setText(lines.join(QLatin1Char('\n')));
}

bool CCommandBar::Fill(const ButtonAssignment& assignment, const CommandTable& table) {
    for (int slot = 0; slot < ButtonAssignment::kButtonSlots; ++slot)
        if (!button(slot)) return false;
    for (int slot = 0; slot < ButtonAssignment::kButtonSlots; ++slot) {
        QPushButton* b = button(slot);
        const int position = assignment.at(slot);
        if (position == ButtonAssignment::kNone) {
            b->setFont(body_->font());
            b->setText(QString());
            b->setToolTip(QString());
            b->setEnabled(false);
            continue;
        }
        const QString name = QString::fromLatin1(table.entry(position).name.c_str());
        SetCaption(b, name);
        b->setToolTip(name);
        b->setEnabled(true);
    }
    return true;
}

void CCommandBar::LayOut(AccessMode mode) {
    for (int slot = 0; slot < ButtonAssignment::kButtonSlots; ++slot)
        button(slot)->setVisible(ButtonAssignment::SlotVisible(slot, mode));
}
