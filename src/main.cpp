#include <GL/glew.h>

#include "Main.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include <exception>

#include "Platform.h"
#include "Transferfunceditor.h"

int main(int argc, char** argv)
{
    PreparePlatform();
    QApplication application(argc, argv);
    try {
        TMainForm mainForm;
        // Created hidden; the Edit action shows it.
        TTransferFuncEditForm editForm;
        mainForm.editor = &editForm;
        const QRect desktop = mainForm.screen()->availableGeometry();
        mainForm.move(desktop.center() - mainForm.rect().center());
        mainForm.show();
        application.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("Volren"), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Volren"), QString());
    }
    return 0;
}
