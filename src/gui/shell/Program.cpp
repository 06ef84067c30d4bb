#include "shell/Program.h"

#include "audio/FrmConvert.h"
#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "core/FrmGetURL.h"
#include "net/FrmCheck.h"
#include "pages/FrmPages.h"
#include "publish/FrmPublish.h"
#include "shell/Form1.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QCoreApplication>
#include <QEvent>

// Resources live in a static library: register them explicitly.
static void initResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(done);
}

namespace tess {

namespace {
Program* g_program = nullptr;
} // namespace

Program::Program() {
    initResources();
    Q_ASSERT(!g_program);
    g_program = this;
}

Program::~Program() {
    // Taken out first: a window going may still ask for another.
    const auto windows = std::move(windows_);
    windows_.clear();
    for (const auto& [type, window] : windows)
        delete window.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    g_program = nullptr;
}

Program& Program::get() {
    Q_ASSERT(g_program);
    return *g_program;
}

bool Program::running() {
    return g_program != nullptr;
}

QPointer<QWidget>& Program::slotFor(const std::type_info& type) {
    for (auto& [t, window] : windows_)
        if (t == type)
            return window;
    windows_.emplace_back(type, nullptr);
    return windows_.back().second;
}

template <class W> W* Program::use() {
    if (QWidget* existing = slotFor(typeid(W)))
        return static_cast<W*>(existing);
    W* window = new W();
    // Building the window may have used others and grown the list: look again.
    slotFor(typeid(W)) = window;
    window->Form_Load();
    return window;
}

Form1* Program::form1() {
    return use<Form1>();
}
FrmGetURL* Program::frmGetURL() {
    return use<FrmGetURL>();
}
FrmOptSet* Program::frmOptSet() {
    return use<FrmOptSet>();
}
Form2* Program::form2() {
    return use<Form2>();
}
frmBatch* Program::frmBatchWindow() {
    return use<frmBatch>();
}
frmBatchSet* Program::frmBatchSetWindow() {
    return use<frmBatchSet>();
}
FrmConvert* Program::frmConvert() {
    return use<FrmConvert>();
}
frmSplash* Program::frmSplashWindow() {
    return use<frmSplash>();
}
frmAbout* Program::frmAboutWindow() {
    return use<frmAbout>();
}
FrmCheck* Program::frmCheck() {
    return use<FrmCheck>();
}
FrmPages* Program::frmPages() {
    return use<FrmPages>();
}

FrmPublish* Program::frmPublish() {
    return use<FrmPublish>();
}

void Program::unload(QWidget* window) {
    for (auto& [type, slot] : windows_) {
        if (slot == window) {
            slot = nullptr;
            window->hide();
            // The caller may be one of the window's own handlers.
            window->deleteLater();
            return;
        }
    }
}

void Program::endProgram() {
    ended_ = true;
    const auto windows = std::move(windows_);
    windows_.clear();
    for (const auto& [type, slot] : windows) {
        if (slot) {
            slot->hide();
            slot->deleteLater();
        }
    }
    QCoreApplication::quit();
}

} // namespace tess
