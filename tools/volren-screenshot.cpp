// Takes a picture of the main window with a volume open, as a user sees it:
//   volren-screenshot VOLUME OUT.png [PAGE [FORWARD [VIEW [FUNCTION.tf [H,V]]]]]
// VOLUME is a .dat file or a scan (a DICOM series folder or file, NIfTI,
// NRRD, MetaImage).
// PAGE 0 shows the "General" page, 1 the "Rendering" page; FORWARD is the
// number of "Forward" clicks, each a fifth nearer; VIEW is the camera button
// clicked (Left, Down, Back, Right, Up or Front); FUNCTION.tf is loaded as
// "Load" would ("-" for none); H,V is a turn in degrees as a left drag gives
// it, about the screen's vertical and horizontal axes. Needs an X display.
#include <GL/glew.h>

#include "Main.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DisplayRetry.h"
#include "Platform.h"
#include "Transferfunceditor.h"
#include "VolumeRenderer.h"

int main(int argc, char** argv)
{
    const char* const usage = "usage: volren-screenshot VOLUME OUT.png [PAGE [FORWARD [VIEW [FUNCTION.tf [H,V]]]]]\n";
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s", usage);
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    RetryLostDisplay(argv);
    PreparePlatform();
    QApplication application(argc, argv);
    TTransferFuncEditForm editor;
    TMainForm form(&editor);
    form.move(0, 0);
    form.show();
    form.setWindowTitle(QString::fromLocal8Bit(argv[1]));
    const OpenResult opened = form.viewer.Open(QString::fromLocal8Bit(argv[1]));
    if (!opened.opened) {
        std::fprintf(stderr, "volren-screenshot: %s: %s\n", argv[1], opened.error.toLocal8Bit().constData());
        std::_Exit(1);
    }
    if (!opened.sampleFunction.isEmpty()) {
        form.transferFunctionFileName = opened.sampleFunction;
        form.Panel6->setText(QFileInfo(opened.sampleFunction).fileName());
        std::printf("transfer function %s, as the program applies it to this scan\n",
                    opened.sampleFunction.toLocal8Bit().constData());
    }
    form.ShowVolumeSizes();
    form.PageControl1->setCurrentIndex(argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 0);
    if (argc > 5) {
        const QString view = QString::fromLocal8Bit(argv[5]);
        for (QPushButton* button : form.findChildren<QPushButton*>()) {
            if (button->text() == view) {
                button->click();
            }
        }
    }
    // After the button, which frames the view.
    for (int i = argc > 4 ? QString::fromLocal8Bit(argv[4]).toInt() : 0; i > 0; --i) {
        form.CameraForwardActionExecute();
    }
    if (argc > 6 && QString::fromLocal8Bit(argv[6]) != QStringLiteral("-")) {
        const QString function = QString::fromLocal8Bit(argv[6]);
        if (!form.viewer.LoadTransferFunction(function)) {
            std::fprintf(stderr, "volren-screenshot: %s: %s\n", argv[6], form.viewer.transferFunction.Error());
            std::_Exit(1);
        }
        form.transferFunctionFileName = function;
        form.Panel6->setText(QFileInfo(function).fileName());
    }
    if (argc > 7) {
        const QStringList turn = QString::fromLocal8Bit(argv[7]).split(QLatin1Char(','));
        bool okH = false, okV = false;
        const float h = turn.size() == 2 ? turn[0].toFloat(&okH) : 0.0f;
        const float v = turn.size() == 2 ? turn[1].toFloat(&okV) : 0.0f;
        if (!okH || !okV) {
            std::fprintf(stderr, "volren-screenshot: the turn is H,V in degrees, not %s\n", argv[7]);
            return 2;
        }
        form.viewer.viewControl.Turn(h, v);
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    // A few seconds of frames, so the frame-rate box shows a real rate. The
    // process ends here: a normal close would ask to save the function.
    QTimer::singleShot(2500, [&] {
        const QPixmap shot = form.screen()->grabWindow(0, form.x(), form.y(), form.frameGeometry().width(),
                                                       form.frameGeometry().height());
        std::_Exit(shot.save(out) ? 0 : 1);
    });
    return application.exec();
}
