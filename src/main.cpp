#include "platform/Controls.h"
#include "shell/Program.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    tess::Program program;
    QIcon icon(QStringLiteral(":/icon.png"));
    icon.addFile(QStringLiteral(":/icon_64.png"));
    QApplication::setWindowIcon(icon);
    tess::showWindow(program.frmSplashWindow());
    return app.exec();
}
