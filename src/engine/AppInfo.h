#pragma once

#include <QString>

namespace tess {

// The application object: where the program lives, its title and version.
namespace AppInfo {
QString title();
int major();
int minor();
int revision();
QString versionText(); // "1.1.0"
// The folder of the executable, without a final separator; tests may redirect it.
QString path();
void setPathForTesting(const QString& folder);
} // namespace AppInfo

} // namespace tess
