#include "platform/Controls.h"
#include "shell/Form1.h"
#include "shell/Program.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    tess::Program program;
    tess::showWindow(program.form1());
    return app.exec();
}
