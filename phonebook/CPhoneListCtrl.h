// The phone book's list of names and numbers. Reports the row under each left
// mouse press and double-click (-1 beside the rows); rows reached with the keys show
// as its selection. GUI thread.
#pragma once

#include "phonebook/PhoneBook.h"

#include <QTreeWidget>

class CPhoneListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kColumnWidth = 141;

    explicit CPhoneListCtrl(QWidget* parent = nullptr);

    void fill(const std::vector<PhoneEntry>& entries);
    // The row at a viewport position, -1 when there is none.
    int rowAt(const QPoint& pos) const;

signals:
    void rowPressed(int row);
    void rowDoubleClicked(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
