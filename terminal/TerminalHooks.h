// Where later work plugs into the handling of received text. Every hook runs on the
// thread that delivered the text, in the order listed; an empty hook is skipped.
// Set them once, before any link can deliver text (the frame does so on creation).
#pragma once

#include <functional>
#include <string_view>

struct TerminalHooks {
    // First, before anything is laid out: any text counts as the switch's answer.
    std::function<void()> textArrived;

    // Trace capture: asked once per block; the writer below is called only when it
    // answers true and no file is being loaded. The writer gets the whole block as
    // received and rewrites it for the file itself (CR as a line break, TAB as eight
    // blanks, LF dropped), so a block costs one write. Called under the view's
    // drawing lock so that blocks keep their arrival order: the writer must not call
    // back into the view or the document.
    std::function<bool()> capturing;
    std::function<void(std::string_view block)> traceBlock;

    // Last, with no view lock held: prompt handling on the new text.
    std::function<void(std::string_view newText)> promptHandling;
};
