// The escape sequence recogniser behind View > Hide Control Sequences.
#include "terminal/ControlFilter.h"

namespace {
constexpr unsigned char kBS = 0x08, kTab = 0x09, kLF = 0x0A, kCR = 0x0D, kCAN = 0x18, kSUB = 0x1A,
                        kESC = 0x1B, kBEL = 0x07, kDEL = 0x7F;

bool Kept(unsigned char c) { return c == kCR || c == kLF || c == kTab || c == kBS; }
} // namespace

void ControlFilter::Feed(std::string_view in, std::string& out) {
    out.reserve(out.size() + in.size());
    size_t i = 0;
    while (i < in.size()) {
        if (state_ == State::Text) {
            // Text is copied a run at a time.
            size_t j = i;
            while (j < in.size()) {
                const auto c = static_cast<unsigned char>(in[j]);
                if ((c < 0x20 && !Kept(c)) || c == kDEL) break;
                ++j;
            }
            out.append(in.data() + i, j - i);
            if (j == in.size()) return;
            if (static_cast<unsigned char>(in[j]) == kESC) state_ = State::Escape;
            i = j + 1;
            continue;
        }
        const auto c = static_cast<unsigned char>(in[i++]);
        switch (state_) {
        case State::Text:
            break;
        case State::Escape:
            if (c == '[') state_ = State::Csi;
            else if (c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_') {
                state_ = State::String;
                oscString_ = c == ']';
                stringBytes_ = 0;
            } else if (c >= 0x20 && c <= 0x2F) state_ = State::EscapeIntermediate;
            else if (c == kESC) state_ = State::Escape;
            else if (c == kCAN || c == kSUB) state_ = State::Text;
            else if (c < 0x20) { if (Kept(c)) out.push_back(static_cast<char>(c)); }
            else state_ = State::Text;  // the final byte of a two-byte form, or a stray ESC
            break;
        case State::EscapeIntermediate:
            if (c >= 0x20 && c <= 0x2F) break;
            if (c == kESC) state_ = State::Escape;
            else if (c < 0x20) { if (Kept(c)) out.push_back(static_cast<char>(c)); if (c == kCAN || c == kSUB) state_ = State::Text; }
            else state_ = State::Text;
            break;
        case State::Csi:
            if (c >= 0x40 && c <= 0x7E) state_ = State::Text;  // final byte
            else if (c == kESC) state_ = State::Escape;
            else if (c == kCAN || c == kSUB) state_ = State::Text;
            else if (c < 0x20) { if (Kept(c)) out.push_back(static_cast<char>(c)); }
            else if (c >= 0x80) {
                // Not a sequence after all: text resumes with this byte.
                out.push_back(static_cast<char>(c));
                state_ = State::Text;
            }
            break;
        case State::String:
            if (c == kESC) state_ = State::StringEscape;
            else if ((c == kBEL && oscString_) || c == kCAN || c == kSUB) state_ = State::Text;
            else if (++stringBytes_ > kMaxStringBytes) {
                state_ = State::Text;  // given up: this byte is text again
                --i;
            }
            break;
        case State::StringEscape:
            if (c == '\\') {
                state_ = State::Text;
            } else {
                // ESC inside a string ends it and starts a sequence of its own.
                state_ = State::Escape;
                --i;
            }
            break;
        }
    }
}
