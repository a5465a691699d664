// The LAN link's texts for output the switch does not take, as the user sees them.
#pragma once

namespace lantext {

inline constexpr const char* kOutputHeldText =
    "Output held: the switch does not read; typed lines wait and go out in order.";
inline constexpr const char* kOutputReleasedText = "Held output sent.";
inline constexpr const char* kNotSentText = "The switch held the output too long. Not sent:";
inline constexpr const char* kNotSentTitle = "LAN Output";

} // namespace lantext
