#include "platform/FileDialog.h"

#include <QFileDialog>

#include <utility>

namespace tess {

QStringList qtNameFilters(const QString& classicFilter) {
    const QStringList parts = classicFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            continue;
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        filters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters;
}

namespace {
enum class Preset { None, File, Cancel };
Preset g_preset = Preset::None;
QString g_nextFile;
bool g_recording = false;
QString g_lastFilter;
} // namespace

std::optional<QString> FileDialog::getOpenFileName(QWidget* parent, const QString& classicFilter) {
    g_lastFilter = classicFilter;
    const Preset preset = std::exchange(g_preset, Preset::None);
    if (preset == Preset::File)
        return std::exchange(g_nextFile, {});
    if (preset == Preset::Cancel || g_recording)
        return std::nullopt;

    // Qt's own dialog, so that SONG.MID is offered under *.mid as on Windows.
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QStringList filters = qtNameFilters(classicFilter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.first());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

void FileDialog::setNextFileName(const QString& path) {
    g_preset = Preset::File;
    g_nextFile = path;
}

void FileDialog::setNextCancel() {
    g_preset = Preset::Cancel;
}

void FileDialog::setRecording(bool on) {
    g_recording = on;
    g_preset = Preset::None;
    g_nextFile.clear();
    g_lastFilter.clear();
}

QString FileDialog::lastFilter() {
    return g_lastFilter;
}

} // namespace tess
