// The argument prompter of the running program: asks through the argument dialogs,
// owned by the main window. GUI thread.
#pragma once

#include "commands/ArgumentPrompter.h"

class QWidget;

class QtArgumentPrompter : public ArgumentPrompter {
public:
    explicit QtArgumentPrompter(QWidget* parent = nullptr) : parent_(parent) {}

    std::string askOne(const std::string& caption) override;
    std::pair<std::string, std::string> askTwo(const std::string& firstCaption,
                                                const std::string& secondCaption) override;

private:
    QWidget* parent_;
};
