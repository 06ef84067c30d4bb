#include "engine/Descriptor.h"

#include "engine/TextRules.h"

namespace tess {

QByteArray descriptorBytes(const DescriptorFields& f, bool blankFirstLine) {
    QString text;
    text.reserve(100 + f.type.size() + f.name.size() + f.version.size() + f.vendor.size() +
                 f.url.size() + f.size.size());
    const QLatin1String eol("\r\n");
    if (blankFirstLine)
        text += eol;
    text += QLatin1String("Content-Type: ") + f.type + eol;
    text += QLatin1String("Content-Name: ") + f.name + eol;
    text += QLatin1String("Content-Version: ") + f.version + eol;
    text += QLatin1String("Content-Vendor: ") + f.vendor + eol;
    text += QLatin1String("Content-URL: ") + f.url + eol;
    text += QLatin1String("Content-Size: ") + f.size + eol;
    return text.toLocal8Bit();
}

QString fieldBreakingLine(const DescriptorFields& f) {
    const std::pair<const char*, const QString*> named[] = {
        {"Content-Type", &f.type},     {"Content-Name", &f.name}, {"Content-Version", &f.version},
        {"Content-Vendor", &f.vendor}, {"Content-URL", &f.url},   {"Content-Size", &f.size}};
    for (const auto& [name, value] : named)
        if (TextRules::breaksLine(*value))
            return QLatin1String(name);
    return {};
}

QString descriptorProblem(const QString& path, const DescriptorFields& fields) {
    if (TextRules::breaksLine(path))
        return QStringLiteral("the file name holds a line break or NUL");
    if (const QString field = fieldBreakingLine(fields); !field.isEmpty())
        return QStringLiteral("the ") + field + QStringLiteral(" value holds a line break or NUL");
    return {};
}

FileResult writeDescriptor(const QString& path, const DescriptorFields& fields,
                           bool blankFirstLine) {
    if (const QString problem = descriptorProblem(path, fields); !problem.isEmpty())
        return FileResult{false, problem};
    return FileOps::replaceFile(path, descriptorBytes(fields, blankFirstLine));
}

QString descriptorPath(const QString& saveFolder, const QString& name, QChar separator) {
    return saveFolder + separator + name + QLatin1String(".gcd");
}

QString logSeparatorLine() {
    // One shared text: a batch logs it twice per file.
    static const QString line(140, QLatin1Char('-'));
    return line;
}

} // namespace tess
