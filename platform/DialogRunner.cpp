// Modal runner with a test hook, and the control-ID property.
#include "platform/DialogRunner.h"

#include <QDialog>
#include <QVariant>

namespace {
std::function<int(QDialog&)> g_hook;
constexpr const char* kIdProperty = "pmxId";
} // namespace

int RunModal(QDialog& dialog) {
    if (g_hook) {
        // Let the dialog set itself up as exec() would (its showEvent/initialisation).
        return g_hook(dialog);
    }
    return dialog.exec();
}

void SetModalHook(std::function<int(QDialog&)> hook) { g_hook = std::move(hook); }

void SetControlId(QObject* object, int id) {
    if (object) object->setProperty(kIdProperty, id);
}

int ControlId(const QObject* object) {
    if (!object) return 0;
    QVariant v = object->property(kIdProperty);
    return v.isValid() ? v.toInt() : 0;
}

QObject* FindById(QObject* root, int id) {
    if (!root) return nullptr;
    if (ControlId(root) == id) return root;
    for (QObject* child : root->findChildren<QObject*>()) {
        if (ControlId(child) == id) return child;
    }
    return nullptr;
}
