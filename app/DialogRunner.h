// Every modal dialog runs through RunModal, so tests can fill a dialog's controls
// (found by their numeric IDs) and press OK or Cancel instead of a user.
#pragma once

#include <functional>

class QDialog;
class QObject;
class QWidget;

// Returns QDialog::Accepted or QDialog::Rejected (or the hook's answer).
int RunModal(QDialog& dialog);
// A hook that runs instead of exec(); nullptr restores exec().
void SetModalHook(std::function<int(QDialog&)> hook);

// Numeric IDs on controls and actions: the numbers the program uses for them.
void SetControlId(QObject* object, int id);
int ControlId(const QObject* object);
QObject* FindById(QObject* root, int id);
template <class T>
T* FindControl(QObject* root, int id) { return qobject_cast<T*>(FindById(root, id)); }
