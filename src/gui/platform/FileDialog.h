#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace tess {

// Turns a classic filter string ("Desc|*.a;*.b|Other|*.c|") into Qt name filters
// ("Desc (*.a *.b)", "Other (*.c)"), one per description/pattern pair.
QStringList qtNameFilters(const QString& classicFilter);

// The open-file dialog: read-only box hidden, first filter preselected, patterns
// matched without regard to case. No value means the user cancelled.
// Tests preset the next answer once; without a preset a recording run cancels.
class FileDialog {
public:
    static std::optional<QString> getOpenFileName(QWidget* parent, const QString& classicFilter);

    static void setNextFileName(const QString& path);
    static void setNextCancel();
    static void setRecording(bool on);
    static QString lastFilter();
};

} // namespace tess
