#pragma once

#include <QString>

namespace tess::TextRules {

// A value that would break a line-based file (descriptor, config.cfg): it holds
// CR, LF or NUL.
bool breaksLine(const QString& value);

// What a single-line edit box keeps of typed or pasted text: the text before the
// first line break, without NUL and other control characters (tab stays).
QString singleLine(const QString& text);

} // namespace tess::TextRules
