#include "media/Phones.h"

namespace tess::media {

const PhoneProfile* PhoneList::find(const QString& id) const {
    for (const PhoneProfile& p : phones)
        if (p.id == id)
            return &p;
    return nullptr;
}

// The strictest common case, until the shipped file is read.
PhoneList loadPhones() {
    PhoneList list;
    PhoneProfile p;
    p.id = QLatin1String(kDefaultPhoneId);
    p.model = QStringLiteral("Default (strictest common case)");
    p.screen = QSize(128, 160);
    p.wallpaper = QSize(128, 160);
    p.pictureFormats = {QStringLiteral("png")};
    p.soundFormats = {QStringLiteral("qcp"), QStringLiteral("midi")};
    p.maxRingerBytes = 64 * 1024;
    p.maxPictureBytes = 64 * 1024;
    p.markup = QStringLiteral("wml");
    p.maxPageBytes = 1400;
    p.generic = true;
    list.phones.append(p);
    return list;
}

void readPhonesFile(const QString&, PhoneList*, bool) {}

} // namespace tess::media
