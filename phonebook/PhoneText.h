// Phone book texts are single-byte characters; the dialogs show and take them as Latin-1
// so that every byte survives the trip through a widget unchanged.
#pragma once

#include <QString>
#include <string>

inline QString PhoneTextToQt(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string PhoneTextFromQt(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
