#include "engine/Maker.h"

#include "engine/ContentTypes.h"
#include "engine/FileOps.h"
#include "engine/PathRules.h"
#include "engine/TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#endif

namespace tess {

std::optional<QString> mediaNameProblem(const QString& path) {
    const QString name = fileNameOfPath(path).value_or(path);
    for (const QChar c : name) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return QStringLiteral("the file name holds a line break");
        if (c.unicode() == 0)
            return QStringLiteral("the file name holds a NUL character");
    }
    // Bytes that are not UTF-8 come back from the system as U+FFFD: such a path
    // no longer leads to its file.
    if (name.contains(QChar::ReplacementCharacter) && !FileOps::fileSize(path))
        return QStringLiteral("the file name is not valid UTF-8");
    return std::nullopt;
}

namespace {

// Why a media file has no size: missing, out of reach, or not a plain file.
QString whyNoSize(const QString& path) {
#ifndef _WIN32
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QStringLiteral("the file does not exist");
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder, not a file");
    return QStringLiteral("it is not a regular file");
#else
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file");
    return info.exists() ? QStringLiteral("it is not a regular file")
                         : QStringLiteral("the file does not exist");
#endif
}

} // namespace

MediaIntake inspectMedia(const QString& path) {
    if (const std::optional<QString> problem = mediaNameProblem(path))
        return {std::nullopt, *problem};
    const std::optional<QString> name = fileNameOfPath(path);
    if (!name || name->isEmpty())
        return {std::nullopt, QStringLiteral("the path names no file")};
    const std::optional<QString> contentName = contentNameOf(*name);
    if (!contentName)
        return {std::nullopt, QStringLiteral("the file name is shorter than four characters")};
    const std::optional<qint64> size = FileOps::fileSize(path);
    if (!size)
        return {std::nullopt, whyNoSize(path)};
    return {MediaFacts{*name, *contentName, QString::number(*size), contentTypeForPath(path)},
            QString()};
}

Made planDescriptor(const QString& mediaPath, const MakeSettings& settings) {
    Made made;
    const MediaIntake intake = inspectMedia(mediaPath);
    if (!intake.facts) {
        made.reason = intake.reason;
        return made;
    }
    const MediaFacts& facts = *intake.facts;
    QString type = settings.typeOverride;
    if (type.isEmpty()) {
        if (facts.typeRow < 0) {
            made.reason = QStringLiteral("no content type is known for this file name");
            return made;
        }
        type = QLatin1String(contentTypes()[facts.typeRow].mime);
    }
    const QString url =
        settings.autoUrlBase ? autoUrlFor(*settings.autoUrlBase, facts.fileName) : settings.url;
    made.fields = DescriptorFields{type, facts.contentName, settings.version, settings.vendor,
                                   url,  facts.size};
    made.path = descriptorPath(settings.saveFolder, facts.contentName);
    made.ok = true;
    return made;
}

Made prepareDescriptor(const QString& mediaPath, const MakeSettings& settings) {
    Made made = planDescriptor(mediaPath, settings);
    if (!made.ok)
        return made;
    const QString problem = descriptorProblem(made.path, made.fields);
    if (!problem.isEmpty()) {
        made.ok = false;
        made.reason =
            QStringLiteral("could not write ") + made.path + QStringLiteral(": ") + problem;
        return made;
    }
    made.bytes = descriptorBytes(made.fields, settings.blankLine);
    return made;
}

void finishDescriptor(Made& made) {
    if (!made.ok)
        return;
    const FileResult written = FileOps::replaceFile(made.path, made.bytes);
    made.bytes.clear();
    made.notice = written.notice;
    if (!written) {
        made.ok = false;
        made.reason =
            QStringLiteral("could not write ") + made.path + QStringLiteral(": ") + written.reason;
    }
}

Made makeDescriptor(const QString& mediaPath, const MakeSettings& settings) {
    Made made = prepareDescriptor(mediaPath, settings);
    finishDescriptor(made);
    return made;
}

} // namespace tess
