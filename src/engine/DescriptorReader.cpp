#include "engine/DescriptorReader.h"

#include "engine/ContentTypes.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <algorithm>

namespace tess {

namespace {

enum class LineEnd { CrLf, Lf, Cr, None };

struct Line {
    QByteArray text;
    LineEnd end;
};

QList<Line> splitLines(const QByteArray& bytes) {
    QList<Line> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        LineEnd end = LineEnd::Lf;
        qsizetype next = i + 1;
        if (c == '\r') {
            if (next < n && bytes[next] == '\n') {
                end = LineEnd::CrLf;
                ++next;
            } else {
                end = LineEnd::Cr;
            }
        }
        lines.append({bytes.mid(start, i - start), end});
        start = next;
        i = next - 1;
    }
    if (start < n)
        lines.append({bytes.mid(start), LineEnd::None});
    return lines;
}

// "Line 3" / "Lines 1, 2 and 5" / "9 lines (the first is line 1)".
QString linesPhrase(const QList<int>& numbers, bool* plural) {
    *plural = numbers.size() > 1;
    if (numbers.size() == 1)
        return QStringLiteral("Line ") + QString::number(numbers[0]);
    if (numbers.size() > 6)
        return QString::number(numbers.size()) + QStringLiteral(" lines (the first is line ") +
               QString::number(numbers[0]) + QLatin1Char(')');
    QString text = QStringLiteral("Lines ");
    for (int i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            text += i + 1 == numbers.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
        text += QString::number(numbers[i]);
    }
    return text;
}

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString typeList() {
    QStringList mimes;
    for (const ContentType& t : contentTypes())
        mimes.append(QLatin1String(t.mime));
    return mimes.join(QStringLiteral(", "));
}

} // namespace

const QStringList& descriptorFieldNames() {
    static const QStringList names{
        QStringLiteral("Content-Type"),    QStringLiteral("Content-Name"),
        QStringLiteral("Content-Version"), QStringLiteral("Content-Vendor"),
        QStringLiteral("Content-URL"),     QStringLiteral("Content-Size")};
    return names;
}

bool isDecimalSize(const QString& size) {
    if (size.isEmpty())
        return false;
    for (const QChar c : size)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

QString mediaFileNameOf(const QString& url) {
    const QUrl parsed(url, QUrl::TolerantMode);
    // Split while still encoded, so that an escaped "/" cannot split the name.
    const QString encoded = parsed.isValid() ? parsed.fileName(QUrl::FullyEncoded)
                                             : url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    const QString name = QUrl::fromPercentEncoding(encoded.toUtf8());
    // A decoded name must stay a plain name inside the descriptor's folder.
    if (name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QChar(0)))
        return {};
    return name;
}

QList<UrlFinding> contentUrlFindings(const QString& url, const QString& shownAs) {
    const QString shown = shownAs.isEmpty() ? url : shownAs;
    // The part of the shown URL before its first c (none in a user name or password).
    auto shownBefore = [&](QChar c) { return shown.left(shown.indexOf(c)); };
    QList<UrlFinding> found;
    const QString remake = QStringLiteral(" and make the descriptor again (Tessavane writes "
                                          "such characters as %XX)");
    QString unsafe;
    bool control = false;
    for (const QChar c : url) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f)
            control = true;
        else if ((u == 0x20 || QStringLiteral("\"<>\\^`{|}").contains(c)) && !unsafe.contains(c))
            unsafe += c;
    }
    if (!unsafe.isEmpty() || control)
        found.append({QStringLiteral("Content-URL \"") + shown +
                          QStringLiteral("\" holds characters a phone cannot send in a request (") +
                          (unsafe.contains(QLatin1Char(' ')) ? QStringLiteral("a space")
                           : control                         ? QStringLiteral("a control character")
                                     : QStringLiteral("\"") + unsafe + QLatin1Char('"')) +
                          QStringLiteral(")."),
                      QStringLiteral("give the media file a name without them (or write each as "
                                     "%XX in Content-URL, a space as %20) and make the descriptor "
                                     "again")});
    const qsizetype hash = url.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        found.append({QStringLiteral("Content-URL \"") + shown +
                          QStringLiteral("\" holds \"#\": a phone asks for \"") +
                          shownBefore(QLatin1Char('#')) +
                          QStringLiteral("\" only, the rest is left out of its request."),
                      QStringLiteral("write \"#\" as %23 in Content-URL, or give the media file a "
                                     "name without it,") +
                          remake});
    const qsizetype query = url.indexOf(QLatin1Char('?'));
    if (query >= 0 && (hash < 0 || query < hash))
        found.append({QStringLiteral("Content-URL \"") + shown +
                          QStringLiteral("\" holds \"?\": what follows it goes to the server as a "
                                         "query, and the file asked for is \"") +
                          shownBefore(QLatin1Char('?')) + QStringLiteral("\"."),
                      QStringLiteral("write \"?\" as %3F in Content-URL, or give the media file a "
                                     "name without it,") +
                          remake});
    const QString path =
        url.left(std::min(hash < 0 ? url.size() : hash, query < 0 ? url.size() : query));
    if (path.endsWith(QLatin1Char('/')))
        found.append({QStringLiteral("Content-URL \"") + shown +
                          QStringLiteral("\" ends in \"/\": it names a folder, not a file."),
                      QStringLiteral("end Content-URL with the media file's name, e.g. "
                                     "http://your.host/tones/song.mid (the A button adds it "
                                     "for every file)")});
    return found;
}

DescriptorReport readDescriptor(const QByteArray& bytes) {
    DescriptorReport r;
    QStringList& problems = r.problems;
    if (bytes.isEmpty()) {
        problems.append(QStringLiteral("The descriptor is empty."));
        return r;
    }
    if (bytes.size() > kDescriptorReadLimit) {
        problems.append(QStringLiteral("The descriptor is larger than ") +
                        QString::number(kDescriptorReadLimit) +
                        QStringLiteral(" bytes; a descriptor is six short lines."));
        return r;
    }
    if (bytes.contains('\0'))
        problems.append(QStringLiteral("The descriptor contains NUL bytes."));

    const QList<Line> lines = splitLines(bytes);
    QList<int> bareLf;
    QList<int> bareCr;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].end == LineEnd::Lf)
            bareLf.append(i + 1);
        else if (lines[i].end == LineEnd::Cr)
            bareCr.append(i + 1);
    }
    bool plural = false;
    if (!bareLf.isEmpty()) {
        const QString who = linesPhrase(bareLf, &plural);
        problems.append(who + (plural ? QStringLiteral(" end") : QStringLiteral(" ends")) +
                        QStringLiteral(" in LF alone; every line must end in CR LF."));
    }
    if (!bareCr.isEmpty()) {
        const QString who = linesPhrase(bareCr, &plural);
        problems.append(who + (plural ? QStringLiteral(" end") : QStringLiteral(" ends")) +
                        QStringLiteral(" in CR alone; every line must end in CR LF."));
    }
    if (lines.last().end == LineEnd::None)
        problems.append(QStringLiteral("The last line has no line end; it must end in CR LF."));

    int first = 0;
    if (lines[0].text.isEmpty()) {
        r.blankFirstLine = true;
        first = 1;
    }
    const int count = int(lines.size()) - first;
    if (count != 6)
        problems.append(QStringLiteral("The descriptor has ") + QString::number(lines.size()) +
                        (lines.size() == 1 ? QStringLiteral(" line") : QStringLiteral(" lines")) +
                        QStringLiteral("; it needs the six Content- lines (seven with an empty "
                                       "first line)."));

    const QStringList& names = descriptorFieldNames();
    QString* values[] = {&r.fields.type,   &r.fields.name, &r.fields.version,
                         &r.fields.vendor, &r.fields.url,  &r.fields.size};
    bool seen[6] = {};
    QList<int> order;
    for (int i = first; i < lines.size(); ++i) {
        const QString number = QString::number(i + 1);
        const QString text = QString::fromLocal8Bit(lines[i].text);
        if (text.isEmpty()) {
            problems.append(QStringLiteral("Line ") + number + QStringLiteral(" is empty."));
            continue;
        }
        qsizetype colon = text.indexOf(QLatin1Char(':'));
        // "Content-URL http://..." has a colon, but not after the name.
        for (const QString& known : names) {
            if (!text.startsWith(known, Qt::CaseInsensitive))
                continue;
            if (text.mid(known.size()).trimmed().startsWith(QLatin1Char(':')))
                break;
            problems.append(QStringLiteral("Line ") + number + QStringLiteral(": the name ") +
                            known + QStringLiteral(" must be followed by a colon and one space."));
            colon = -2;
            break;
        }
        if (colon == -2)
            continue;
        if (colon < 0) {
            problems.append(QStringLiteral("Line ") + number +
                            QStringLiteral(" is not a \"Name: value\" field: it has no colon."));
            continue;
        }
        QString name = text.left(colon);
        const QString rest = text.mid(colon + 1);
        int field = int(names.indexOf(name));
        if (field < 0) {
            const QString trimmed = name.trimmed();
            for (int k = 0; k < names.size(); ++k) {
                if (names[k].compare(trimmed, Qt::CaseInsensitive) != 0)
                    continue;
                field = k;
                if (trimmed != name)
                    problems.append(QStringLiteral("Line ") + number +
                                    QStringLiteral(": no space may stand around the name ") +
                                    names[k] + QStringLiteral(" before the colon."));
                else
                    problems.append(QStringLiteral("Line ") + number +
                                    QStringLiteral(": the field name is written ") + quoted(name) +
                                    QStringLiteral("; it must be ") + names[k] + QLatin1Char('.'));
            }
        }
        if (field < 0) {
            problems.append(QStringLiteral("Line ") + number + QStringLiteral(": ") + quoted(name) +
                            QStringLiteral(" is not one of the six Content- fields."));
            continue;
        }
        QString value = rest;
        if (rest.startsWith(QLatin1Char(' ')))
            value = rest.mid(1);
        else
            problems.append(QStringLiteral("Line ") + number +
                            QStringLiteral(": the colon after ") + names[field] +
                            QStringLiteral(" must be followed by one space."));
        if (seen[field]) {
            problems.append(QStringLiteral("Line ") + number + QStringLiteral(" repeats ") +
                            names[field] + QLatin1Char('.'));
            continue;
        }
        seen[field] = true;
        *values[field] = value;
        order.append(field);
    }
    for (int k = 1; k < order.size(); ++k) {
        if (order[k] < order[k - 1]) {
            problems.append(QStringLiteral("The fields are out of order; they must come as ") +
                            names.join(QStringLiteral(", ")) + QLatin1Char('.'));
            break;
        }
    }
    for (int k = 0; k < 6; ++k)
        if (!seen[k])
            problems.append(names[k] + QStringLiteral(" is missing."));

    if (seen[0]) {
        bool known = false;
        for (const ContentType& t : contentTypes())
            known = known || r.fields.type == QLatin1String(t.mime);
        if (r.fields.type.isEmpty())
            problems.append(QStringLiteral("Content-Type is empty."));
        else if (!known)
            problems.append(QStringLiteral("Content-Type ") + quoted(r.fields.type) +
                            QStringLiteral(" is not one of ") + typeList() + QLatin1Char('.'));
    }
    if (seen[4] && r.fields.url.isEmpty())
        problems.append(QStringLiteral("Content-URL is empty."));
    else if (seen[4])
        r.urlFindings = contentUrlFindings(r.fields.url);
    if (seen[5]) {
        if (r.fields.size.isEmpty())
            problems.append(QStringLiteral("Content-Size is empty."));
        else if (!isDecimalSize(r.fields.size))
            problems.append(QStringLiteral("Content-Size ") + quoted(r.fields.size) +
                            QStringLiteral(" is not a number of bytes in decimal digits."));
    }
    return r;
}

DescriptorReport readDescriptorFile(const QString& path) {
    DescriptorReport r;
    const QFileInfo info(path);
    if (!info.exists()) {
        r.readError = QStringLiteral("No such file");
        return r;
    }
    if (info.isDir()) {
        r.readError = QStringLiteral("Is a folder");
        return r;
    }
    // A pipe or device could block or never end.
    if (!info.isFile()) {
        r.readError = QStringLiteral("Not a regular file");
        return r;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.readError = file.errorString();
        return r;
    }
    const QByteArray bytes = file.read(kDescriptorReadLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        r.readError = file.errorString();
        return r;
    }
    r = readDescriptor(bytes);

    const QString mediaName = mediaFileNameOf(r.fields.url);
    if (mediaName.isEmpty())
        return r;
    const QFileInfo media(info.absolutePath() + QLatin1Char('/') + mediaName);
    if (!media.isFile())
        return r;
    r.mediaPath = media.filePath();
    r.mediaSize = media.size();
    if (isDecimalSize(r.fields.size)) {
        bool ok = false;
        const qulonglong said = r.fields.size.toULongLong(&ok);
        if (!ok || said != qulonglong(r.mediaSize))
            r.problems.append(QStringLiteral("Content-Size says ") + r.fields.size +
                              QStringLiteral(" bytes, but ") + mediaName +
                              QStringLiteral(" beside the descriptor has ") +
                              QString::number(r.mediaSize) + QStringLiteral(" bytes."));
    }
    return r;
}

} // namespace tess
