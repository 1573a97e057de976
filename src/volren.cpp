#include <GL/glew.h>

#include "Main.h"

#include <QCoreApplication>
#include <QScreen>

#include <exception>

#include "Application.h"
#include "DisplayRetry.h"
#include "Platform.h"
#include "Transferfunceditor.h"

int main(int argc, char** argv)
{
    RetryLostDisplay(argv);
    PreparePlatform();
    Application application(argc, argv);
    try {
        TMainForm mainForm;
        // Created hidden; the Edit action shows it.
        TTransferFuncEditForm editForm;
        mainForm.editor = &editForm;
        const QRect desktop = mainForm.screen()->availableGeometry();
        mainForm.move(desktop.center() - mainForm.rect().center());
        mainForm.show();
        mainForm.OpenArguments(QCoreApplication::arguments());
        application.exec();
    } catch (const std::exception& error) {
        application.ShowException(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        application.ShowException(QString());
    }
    return 0;
}
