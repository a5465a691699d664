// The phone book's list control.
#include "phonebook/CPhoneListCtrl.h"

#include "phonebook/PhoneText.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

CPhoneListCtrl::CPhoneListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Phone Number")});
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header()->setStretchLastSection(false);
    setColumnWidth(0, kColumnWidth);
    setColumnWidth(1, kColumnWidth);
}

void CPhoneListCtrl::fill(const std::vector<PhoneEntry>& entries) {
    clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(entries.size()));
    for (const PhoneEntry& e : entries) {
        items.append(new QTreeWidgetItem({PhoneTextToQt(e.name), PhoneTextToQt(e.number)}));
    }
    addTopLevelItems(items);
    clearSelection();
}

int CPhoneListCtrl::rowAt(const QPoint& pos) const {
    QTreeWidgetItem* item = itemAt(pos);
    return item ? indexOfTopLevelItem(item) : -1;
}

void CPhoneListCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit rowPressed(rowAt(event->position().toPoint()));
    QTreeWidget::mousePressEvent(event);
}

void CPhoneListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    const bool left = event->button() == Qt::LeftButton;
    const int row = rowAt(event->position().toPoint());
    if (left) emit rowPressed(row);
    QTreeWidget::mouseDoubleClickEvent(event);
    if (left) emit rowDoubleClicked(row);
}

void CPhoneListCtrl::keyPressEvent(QKeyEvent* event) {
    QTreeWidget::keyPressEvent(event);
    // A move that stays on the row already current (Home on the first row, which the
    // list makes current when it gets the focus) selects that row too.
    switch (event->key()) {
    case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Home: case Qt::Key_End:
    case Qt::Key_PageUp: case Qt::Key_PageDown:
        if (QTreeWidgetItem* item = currentItem(); item && !item->isSelected())
            setCurrentItem(item, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        break;
    default:
        break;
    }
}
