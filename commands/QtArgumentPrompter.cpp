// Runs the argument dialogs through RunModal and hands back what OK accepted.
#include "commands/QtArgumentPrompter.h"

#include "platform/DialogRunner.h"
#include "commands/CCommandArgDlg.h"
#include "commands/CCommandArgsDlg.h"

std::string QtArgumentPrompter::askOne(const std::string& caption) {
    CCommandArgDlg dlg(caption, parent_);
    if (RunModal(dlg) != QDialog::Accepted) return {};
    return dlg.value();
}

std::pair<std::string, std::string> QtArgumentPrompter::askTwo(const std::string& firstCaption,
                                                               const std::string& secondCaption) {
    CCommandArgsDlg dlg(firstCaption, secondCaption, parent_);
    if (RunModal(dlg) != QDialog::Accepted) return {};
    return {dlg.firstValue(), dlg.secondValue()};
}
