// Where later work plugs into the handling of received text. Every hook runs on the
// thread that delivered the text, in the order listed; an empty hook is skipped.
// Set them once, before any link can deliver text (the frame does so on creation).
#pragma once

#include <functional>
#include <string_view>

struct TerminalHooks {
    // First, before anything is laid out: any text counts as the switch's answer.
    std::function<void()> textArrived;

    // Trace capture: asked once per block; the two writers below are called only
    // when it answers true and no file is being loaded. Called under the view's
    // drawing lock so that pieces keep their arrival order: the writers must not
    // call back into the view or the document.
    std::function<bool()> capturing;
    // Characters of one screen line (TAB as eight blanks, LF dropped); never empty.
    std::function<void(std::string_view piece)> traceText;
    // One carriage return received; always after the text that preceded it.
    std::function<void()> traceLineBreak;

    // Last, with no view lock held: prompt handling on the new text.
    std::function<void(std::string_view newText)> promptHandling;
};
