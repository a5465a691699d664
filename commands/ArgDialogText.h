// Text conversions shared by the argument dialogs: the switch's texts are 8-bit bytes,
// shown and read back as Latin-1. GUI thread.
#pragma once

#include <QString>
#include <string>

inline QString ArgText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ArgBytes(const QString& text) {
    QByteArray b = text.toLatin1();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

inline constexpr const char* kEmptyFieldText = "Empty field is not allowed...";
inline constexpr const char* kEmptyFieldTitle = "Input Error";
