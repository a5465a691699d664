// Every modal dialog runs through RunModal, so tests can fill a dialog's controls
// (found by their numeric IDs) and press OK or Cancel instead of a user.
#pragma once

#include <functional>

#include <QObject>

class QDialog;
class QWidget;

// Returns QDialog::Accepted or QDialog::Rejected (or the hook's answer).
int RunModal(QDialog& dialog);
// A hook that runs instead of exec(); nullptr restores exec().
void SetModalHook(std::function<int(QDialog&)> hook);

// Numeric IDs on controls and actions: the numbers the program uses for them.
void SetControlId(QObject* object, int id);
int ControlId(const QObject* object);
QObject* FindById(QObject* root, int id);
// The first object of type T carrying the ID (menu commands and bars may share numbers).
template <class T>
T* FindControl(QObject* root, int id) {
    if (!root) return nullptr;
    if (auto* self = qobject_cast<T*>(root); self && ControlId(self) == id) return self;
    for (T* child : root->template findChildren<T*>())
        if (ControlId(child) == id) return child;
    return nullptr;
}
