#include "core/AutoURLEngine.h"

#include "platform/Controls.h"
#include "shell/Form1.h"

namespace tess::AutoURLEngine {

void ApplyAutoURL(bool activate) {
    Session& s = session();
    s.autoUrlBusy = true;
    if (s.autoUrlActive)
        Program::get().form1()->txtURL->setText(s.autoUrlBase + s.selectedFileName);
    if (activate)
        s.autoUrlActive = true;
    s.autoUrlBusy = false;
}

} // namespace tess::AutoURLEngine
