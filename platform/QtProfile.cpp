// QSettings-backed profile; a fresh QSettings per access keeps it usable from any thread.
#include "platform/QtProfile.h"

#include <QSettings>

namespace {
constexpr const char* kCompany = "TRQ PC Applications";
constexpr const char* kApp = "PMXDiag";
QString keyOf(const std::string& section, const std::string& key) {
    return QString::fromLatin1(section.c_str()) + '/' + QString::fromLatin1(key.c_str());
}
} // namespace

int QtProfile::getInt(const std::string& section, const std::string& key, int defaultValue) {
    std::lock_guard lock(mutex_);
    QSettings s(kCompany, kApp);
    bool ok = false;
    int v = s.value(keyOf(section, key), defaultValue).toInt(&ok);
    return ok ? v : defaultValue;
}

std::string QtProfile::getString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) {
    std::lock_guard lock(mutex_);
    QSettings s(kCompany, kApp);
    QVariant v = s.value(keyOf(section, key));
    if (!v.isValid()) return defaultValue;
    return v.toString().toLatin1().toStdString();
}

bool QtProfile::writeInt(const std::string& section, const std::string& key, int value) {
    std::lock_guard lock(mutex_);
    QSettings s(kCompany, kApp);
    s.setValue(keyOf(section, key), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

bool QtProfile::writeString(const std::string& section, const std::string& key,
                            const std::string& value) {
    std::lock_guard lock(mutex_);
    QSettings s(kCompany, kApp);
    s.setValue(keyOf(section, key), QString::fromLatin1(value.c_str()));
    s.sync();
    return s.status() == QSettings::NoError;
}
