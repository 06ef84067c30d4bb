#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

namespace tess::media {

// What one phone takes. Figures that no source gives stay 0 (unknown): callers then
// use the default profile's figure, which is the strictest common case.
struct PhoneProfile {
    QString id;    // lowercase, e.g. "sanyo-scp-5300"
    QString maker; // "Sanyo"
    QString model; // "SCP-5300"
    QSize screen;  // full screen in pixels
    QSize wallpaper;       // the part of the screen a wallpaper shows
    int wallpaperTop = 0;  // offset of that area from the screen's top-left
    int wallpaperLeft = 0;
    QSize callerId;        // caller-ID picture area; empty when not known
    QStringList pictureFormats; // of "png", "jpeg", "wbmp", "gif"
    QStringList soundFormats;   // of "qcp", "midi", "cmx", "pmd", "mp3", "aac"
    qint64 maxRingerBytes = 0;
    qint64 maxPictureBytes = 0;
    QString markup;        // "wml" (WML 1.1) or "xhtml" (XHTML Mobile Profile)
    qint64 maxPageBytes = 0; // largest deck (compiled WML) or page the browser reads
    QString sources;       // where the figures come from, and where they disagree
    bool generic = false;  // one of the generic or default profiles
    bool user = false;     // from the user's phones.json

    QString name() const { return maker.isEmpty() ? model : maker + QLatin1Char(' ') + model; }
    bool takesPicture(const QString& format) const { return pictureFormats.contains(format); }
    bool takesSound(const QString& format) const { return soundFormats.contains(format); }
};

// The id of the profile every command uses when none is named.
inline constexpr char kDefaultPhoneId[] = "default";

struct PhoneList {
    QList<PhoneProfile> phones; // shipped ones first, in file order; user ones replace by id
    QStringList problems;       // "<file>:<line>: <reason>" for files that could not be read
    const PhoneProfile* find(const QString& id) const;
};

// The shipped profiles (share/tessavane/phones.json beside the program's install, or the
// source tree's resources/phones.json in a build) and the user's
// ~/.config/tessavane/phones.json ($XDG_CONFIG_HOME when absolute) on top.
PhoneList loadPhones();

// Parses one phones.json; a fault is reported with the file and line, never thrown.
// Appends to or replaces entries of list.
void readPhonesFile(const QString& path, PhoneList* list, bool userFile);

} // namespace tess::media
