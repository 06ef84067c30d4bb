#pragma once

#include "shell/Program.h"

#include <QCloseEvent>

namespace tess {

// Base of every window: Form_Load runs when the program first uses the window;
// closing it by its title-bar box unloads it.
template <class Base> class Form : public Base {
public:
    using Base::Base;
    virtual void Form_Load() {}

protected:
    void closeEvent(QCloseEvent* event) override {
        Base::closeEvent(event);
        Form_Unload();
    }
    virtual void Form_Unload() {
        if (Program::running())
            Program::get().unload(this);
    }
};

} // namespace tess
