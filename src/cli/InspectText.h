#pragma once

#include "media/Inspect.h"

#include <QJsonObject>
#include <QStringList>

namespace tess::cli {

// "jpeg picture, 4000x3000, 8-bit ycbcr, progressive, 2345678 bytes"
QString inspectionSummary(const media::Inspection& r);
// One line per finding and one per fix: "refuse: what" / "  fix: ...".
QStringList findingLines(const media::Inspection& r);
QJsonObject inspectionJson(const media::Inspection& r);

} // namespace tess::cli
