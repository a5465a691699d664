// What the document asks of the terminal view when its text changes. The core
// TerminalModel implements it; the document calls it on the delivering thread
// (a read thread, or the GUI thread for LAN text and File > Open).
#pragma once

#include <string_view>

class TerminalDisplay {
public:
    virtual ~TerminalDisplay() = default;
    // One received block (its NUL bytes already left out), after the document stored it.
    virtual void ShowNewText(std::string_view newText) = 0;
    virtual void UpdateScrollSizes() = 0;
    virtual void ScrollToEnd() = 0;
    // Empties the document and the screen.
    virtual void ClearScreen() = 0;
    // The document's text was replaced wholesale (a file was opened): lay it out anew.
    virtual void TextReplaced() = 0;
};
