// Production message service: QMessageBox and QFileDialog, always shown on the GUI thread.
#pragma once

#include "platform/MessageService.h"

#include <QString>

class QWidget;

class QtMessageService : public MessageService {
public:
    int messageBox(const std::string& text, const std::string& title, MsgIcon icon,
                   MsgButtons buttons) override;
    std::optional<std::string> saveFileName(const SaveFileRequest& request) override;
    std::optional<std::string> openFileName(const SaveFileRequest& request) override;

    // Parent window for the boxes (the main frame once it exists).
    static void setParentWindow(QWidget* parent);
};

// "Desc (*.a)|*.a|Desc2|*.b||" -> "Desc (*.a);;Desc2"
QString ConvertFileFilter(const std::string& filter);
