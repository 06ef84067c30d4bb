#include "engine/AppInfo.h"

#include <QCoreApplication>
#include <QDir>

namespace tess::AppInfo {

namespace {
QString g_pathOverride;
} // namespace

QString title() {
    return QStringLiteral("Tessavane");
}
int major() {
    return TESS_VERSION_MAJOR;
}
int minor() {
    return TESS_VERSION_MINOR;
}
int revision() {
    return TESS_VERSION_PATCH;
}

QString versionText() {
    return QString::number(major()) + QLatin1Char('.') + QString::number(minor()) +
           QLatin1Char('.') + QString::number(revision());
}

QString path() {
    const QString p =
        g_pathOverride.isEmpty() ? QCoreApplication::applicationDirPath() : g_pathOverride;
    return QDir::toNativeSeparators(p);
}

void setPathForTesting(const QString& folder) {
    g_pathOverride = folder;
}

} // namespace tess::AppInfo
