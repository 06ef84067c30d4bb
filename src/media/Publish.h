#pragma once

#include "media/Phones.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

namespace tess::media {

// Publishing a folder as a download site, in three plain steps:
//   planPublish  (read only)  SRC + WEBDIR's manifest -> what to make, keep, remove
//   runPublish   (temp only)  makes each new output in WEBDIR/.tessavane-work on N threads
//   writePublish (WEBDIR)     renames media, then descriptors, removes what went away,
//                             then pages, server lines, and the manifest last.
// Until the manifest is written the previous site stays whole: its manifest, pages and
// the outputs of every unchanged item are untouched.

// The manifest, the server lines and the work folder, all in WEBDIR.
inline constexpr char kManifestName[] = ".tessavane-publish.json";
inline constexpr char kHtaccessName[] = ".htaccess";
inline constexpr char kNginxIncludeName[] = "tessavane-nginx.conf";
inline constexpr char kWorkFolderName[] = ".tessavane-work";

// A web name is a stem of lowercase ASCII letters, digits and '-', neither starting
// nor ending with '-'; with its extension (".qcp", ".gcd", ".jpg", ".wbmp", …) the
// file name is at most 32 characters, so a stem has at most 27.
inline constexpr int kMaxWebFileName = 32;
inline constexpr int kMaxWebStem = 27;

// The stem a source file name gives ("Mein Lied (2).mp3" gives "mein-lied-2"); never
// empty ("item" when nothing is left).
QString webStemOf(const QString& sourceFileName);
// Whether name is a file name publish may have made: stem + "." + 2 to 4 letters.
bool isWebFileName(const QString& name);
// stem, or stem with "-2", "-3", … (shortened to fit) when taken says it is in use.
QString uniqueStem(const QString& stem, const std::function<bool(const QString&)>& taken);

// What a file is, by its first bytes (and for sounds by the decoder).
struct Sniffed {
    QString format; // png jpeg gif bmp wbmp qcp midi cmx wav mp3 flac ogg aac unknown
    QString kind;   // "picture" "sound" "other"
    QSize pixels;
    bool progressive = false; // JPEG
    bool alpha = false;       // PNG with an alpha channel or transparency
    bool interlaced = false;  // PNG
    int midiFormat = -1;
};
Sniffed sniffBytes(const QByteArray& head);

// The conversions publish drives. Each writes target through a temporary file and a
// rename, and says why when it cannot. Empty functions mean this build cannot do it:
// such items fail with that reason.
struct StepResult {
    bool ok = false;
    QString reason;
};
struct MediaSteps {
    std::function<bool(const QString& path)> looksLikeSound;
    std::function<StepResult(const QString& source, const QString& target,
                             const std::atomic_bool* cancel)>
        ringtone;
    std::function<StepResult(const QString& source, const QString& target,
                             const PhoneProfile& phone, const QString& format)>
        fitPicture;
    // Findings for a source file ("refuse: …", "may: …", "hint: …").
    std::function<QStringList(const QString& path, const PhoneProfile& phone)> inspect;
    // Threads one step may use inside itself (0: as many as it likes).
    std::function<void(int threads)> threadsPerStep;
};
// The steps of this build: the sound, picture and inspection code of tess_media.
MediaSteps defaultMediaSteps(const QString& pvconvPath);

struct PublishOptions {
    QString source;  // SRC
    QString webDir;  // WEBDIR
    QString baseUrl; // ends in "/" (added when missing)
    PhoneProfile phone;
    QString vendor;
    QString version;
    bool blankLine = false;
    QString title; // of the pages
    int jobs = 0;  // threads; 0: one per core
    // When SRC and WEBDIR look exactly as the last clean run left them (every name,
    // size and time), the plan says so without reading the manifest's items: it then
    // holds only the skipped items, and kept() counts the rest. For callers that need
    // no rows of unchanged items (the command line).
    bool quickWhenUnchanged = false;
};

enum class Action { Make, Keep, Skip };

struct PlanItem {
    QString source;         // relative to SRC, '/' separated
    QString format;         // as sniffed
    QString kind;           // "ringtone" "picture" "midi" "copy" "skip"
    QString how;            // "convert" "fit" "format0" "copy"; empty for skipped items
    QString outFormat;      // "qcp" "png" "jpeg" "midi" "cmx"
    QString stem;           // web name without extension
    QString mediaFile;      // stem + extension
    QString descriptorFile; // stem + ".gcd"
    QString name;           // Content-Name
    qint64 size = 0;
    qint64 mtimeMs = 0;
    QString hash; // SHA-256 of the source, hex; empty until known
    Action action = Action::Skip;
    QString reason; // why it is made again, or why it is skipped
    QStringList findings;
};

struct Plan {
    PublishOptions options;
    QString optionsDigest;
    QString midiDigest; // of MIDI items: the options and the MIDI formats the phone plays
    QList<PlanItem> items;   // sorted by source path
    QStringList removeFiles; // outputs of sources that went away (or changed their name)
    QStringList clashes;     // "<file>: <reason>" for names taken by files publish did not make
    QStringList leftAlone;   // outputs someone else changed: neither removed nor replaced
    QJsonObject oldManifest;
    bool hadManifest = false;
    bool touched = false; // a source's time moved, its bytes did not
    QString problem;      // when set, nothing may run: "<path>: <reason>"
    // The state of SRC and WEBDIR the manifest is checked against (see
    // quickWhenUnchanged); unchanged: it matched, and the items were not read.
    QByteArray sourceState;
    QByteArray oldState;
    bool unchanged = false;
    int keptUnread = 0;
    int toMake() const;
    int kept() const;
    bool changes() const; // anything to make or remove, or the options changed
};

// Reads SRC and WEBDIR's manifest; writes nothing. Links are never followed, WEBDIR is
// left out when it lies inside SRC, names that do not lead back to their file are
// skipped with the reason. Sources whose size and time match the manifest are not read.
Plan planPublish(const PublishOptions& options, const MediaSteps& steps);

// Lines saying what the plan would change ("make a.qcp <- a.mp3 (new)", …).
QStringList describePlan(const Plan& plan);

struct ItemResult {
    bool ok = false;
    QString reason;
    qint64 bytes = 0; // media bytes written
    QString hash;     // of the source, when the plan had none
};

// Told as items start and finish; called from worker threads, one call at a time.
class PublishProgress {
public:
    virtual ~PublishProgress() = default;
    virtual void started(int item, const PlanItem& planItem) = 0;
    virtual void finished(int item, const PlanItem& planItem, const ItemResult& result) = 0;
};

struct RunResult {
    QList<ItemResult> results; // one per plan item (Keep/Skip items ok with no bytes)
    bool cancelled = false;
    QString problem; // the work folder could not be made
    int failed = 0;
};

// Makes every Make item's media into WEBDIR's work folder on options.jobs threads.
// Stops taking new items when cancel is set; the site is untouched either way.
RunResult runPublish(const Plan& plan, const MediaSteps& steps, PublishProgress* progress,
                     const std::atomic_bool* cancel);

struct WriteResult {
    bool ok = false;
    QStringList problems; // "<file>: <reason>"
    QString entryUrl;
    int written = 0; // media + descriptors put in place
    int removed = 0;
};

// Puts what runPublish made into WEBDIR in the safe order and writes the manifest.
// Nothing at all is written when the plan changes nothing and the manifest exists.
// Failed items keep their previous outputs and manifest entry.
WriteResult writePublish(Plan& plan, RunResult& run);

// Removes a work folder left by a run that was stopped (only files publish names there).
void clearWorkFolder(const QString& webDir);

} // namespace tess::media
