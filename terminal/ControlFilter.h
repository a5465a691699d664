// Leaves terminal control out of received text for the screen: ANSI escape
// sequences (CSI, OSC and the other strings, two- and three-byte ESC forms) and the
// C0 control characters other than CR, LF, TAB and backspace, which the screen
// applies itself. A sequence split across blocks is recognised as a whole: the
// state is kept from one Feed to the next. Bytes from 0x80 up are text (a UTF-8
// or Latin-1 stream), never the 8-bit forms of the controls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class ControlFilter {
public:
    // Appends what remains of in to out.
    void Feed(std::string_view in, std::string& out);
    // Forgets a sequence under way (the screen was cleared or replaced).
    void Reset() { state_ = State::Text; stringBytes_ = 0; }

    // A string (OSC, DCS...) that never ends would hide all text after it: it is
    // given up after this many bytes.
    static constexpr size_t kMaxStringBytes = 4096;

private:
    enum class State { Text, Escape, EscapeIntermediate, Csi, String, StringEscape };
    State state_ = State::Text;
    bool oscString_ = false;  // BEL also ends an OSC
    size_t stringBytes_ = 0;
};
