// How a ringtone measures up to a phone's limits; no decoding needed.
#include "media/Sound.h"

#include <cmath>

namespace tess::media {

QString ringerSizeProblem(qint64 bytes, double seconds, const PhoneProfile& phone) {
    if (phone.maxRingerBytes <= 0 || bytes <= phone.maxRingerBytes || seconds <= 0)
        return {};
    const qint64 over = bytes - phone.maxRingerBytes;
    // The size grows with the length: this many seconds fit, with a little room.
    const double fits = std::floor(seconds * phone.maxRingerBytes / bytes * 0.97);
    return QStringLiteral("%1 bytes, %2 bytes over the %3-byte ringer limit of %4; try "
                          "--max-seconds %5")
        .arg(bytes)
        .arg(over)
        .arg(phone.maxRingerBytes)
        .arg(phone.name().isEmpty() ? phone.id : phone.name())
        .arg(std::max(1.0, fits));
}

} // namespace tess::media
