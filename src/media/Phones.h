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
    QString id;           // lowercase, e.g. "sanyo-scp-5300"
    QString maker;        // "Sanyo"
    QString model;        // "SCP-5300"
    QSize screen;         // full screen in pixels
    QSize wallpaper;      // the part of the screen a wallpaper shows
    int wallpaperTop = 0; // offset of that area from the screen's top-left
    int wallpaperLeft = 0;
    QSize callerId;             // caller-ID picture area; empty when not known
    QStringList pictureFormats; // of "png", "jpeg", "wbmp", "gif"
    QStringList soundFormats;   // of "qcp", "midi", "cmx", "pmd", "mp3", "aac"
    QList<int> midiFormats;     // Standard MIDI File formats it plays (0, 1)
    qint64 maxRingerBytes = 0;
    qint64 maxPictureBytes = 0;
    QString markup;          // "wml" (WML 1.1) or "xhtml" (XHTML Mobile Profile)
    qint64 maxPageBytes = 0; // largest deck (compiled WML) or page the browser reads
    int colourBits = 0;      // deepest colour it shows well (8, 12, 16, 24); 0 when not known
    QString sources;         // where the figures come from, and where they disagree; one
                             // "figure: source" a line
    bool generic = false;    // one of the generic or default profiles
    bool user = false;       // from the user's phones.json
    QString file;            // the phones.json it was read from; empty for the built-in default

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
    // The profile of id with every figure it lacks (0 or empty) taken from the default
    // profile, as commands judge by it; nothing when no profile has that id.
    std::optional<PhoneProfile> resolve(const QString& id) const;
};

// The profile with the figures it lacks taken from fallback; the wallpaper area
// defaults to the screen.
PhoneProfile filledFrom(const PhoneProfile& phone, const PhoneProfile& fallback);

// The built-in strictest common case, used when no shipped file can be read.
PhoneProfile builtInDefault();

// Where loadPhones looks: the shipped file it would read (empty when none is found)
// and the user's file (which need not exist).
QString shippedPhonesPath();
QString userPhonesPath();

// The largest phones.json read (1 MiB): far beyond any list of phones.
inline constexpr qint64 kMaxPhonesFileBytes = 1024 * 1024;

// The shipped profiles (share/tessavane/phones.json beside the program's install, or the
// source tree's resources/phones.json in a build) and the user's
// ~/.config/tessavane/phones.json ($XDG_CONFIG_HOME when absolute) on top.
PhoneList loadPhones();

// Parses one phones.json; a fault is reported with the file and line, never thrown.
// Appends to or replaces entries of list.
void readPhonesFile(const QString& path, PhoneList* list, bool userFile);

} // namespace tess::media
