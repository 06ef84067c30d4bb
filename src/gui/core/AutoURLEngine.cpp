#include "core/AutoURLEngine.h"

#include "engine/PathRules.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

namespace tess::AutoURLEngine {

void ApplyAutoURL(bool activate) {
    Session& s = session();
    s.autoUrlBusy = true;
    if (s.autoUrlActive) {
        // Rewriting the same text changes nothing (no change handler runs) but
        // would lay the box out again.
        TextBox* url = Program::get().form1()->txtURL;
        const QString text = autoUrlFor(s.autoUrlBase, s.selectedFileName);
        if (url->text() != text)
            url->setText(text);
    }
    if (activate)
        s.autoUrlActive = true;
    s.autoUrlBusy = false;
}

} // namespace tess::AutoURLEngine
