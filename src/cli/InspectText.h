#pragma once

#include "media/Inspect.h"
#include "net/Checker.h"

#include <QJsonObject>
#include <QStringList>

namespace tess::cli {

// The check's judge of fetched media bytes, for phone.
net::MediaVerdict judgeForCheck(const media::PhoneProfile& phone, const QByteArray& head,
                                qint64 size, const QString& fileName, const QString& type);
// One line per finding and one per fix: "refuse: what" / "  fix: ...".
QStringList findingLines(const media::Inspection& r);
QJsonObject inspectionJson(const media::Inspection& r);

} // namespace tess::cli
