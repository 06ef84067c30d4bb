#pragma once

#include "core/Session.h"

#include <QPointer>
#include <QWidget>
#include <typeindex>
#include <utility>
#include <vector>

namespace tess {

class Form1;
class FrmGetURL;
class FrmOptSet;
class Form2;
class frmBatch;
class frmBatchSet;
class FrmConvert;
class frmSplash;
class frmAbout;
class FrmCheck;
class FrmPages;
class FrmPublish;

// Owns the session's values and its single-instance windows. A window is created
// hidden on first use, its Form_Load runs before the use completes; unloading
// destroys it and the next use creates it afresh.
class Program {
public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    static Program& get();
    static bool running();

    Session& session() { return session_; }

    Form1* form1();
    FrmGetURL* frmGetURL();
    FrmOptSet* frmOptSet();
    Form2* form2();
    frmBatch* frmBatchWindow();
    frmBatchSet* frmBatchSetWindow();
    FrmConvert* frmConvert();
    frmSplash* frmSplashWindow();
    frmAbout* frmAboutWindow();
    FrmCheck* frmCheck();
    FrmPages* frmPages();
    FrmPublish* frmPublish();

    // Whether the window exists, without creating it.
    template <class W> bool exists() const {
        for (const auto& [type, window] : windows_)
            if (type == typeid(W))
                return !window.isNull();
        return false;
    }
    void unload(QWidget* window);
    // Every window closes at once; no handler of theirs runs afterwards.
    void endProgram();
    bool ended() const { return ended_; }

private:
    template <class W> W* use();
    QPointer<QWidget>& slotFor(const std::type_info& type);

    Session session_;
    // A short list searched in order of first use: the main window, asked for many
    // times per file in a batch, stands first.
    std::vector<std::pair<std::type_index, QPointer<QWidget>>> windows_;
    bool ended_ = false;
};

// The session of the running program.
inline Session& session() {
    return Program::get().session();
}

} // namespace tess
