#include "ViewSaver.h"

// Before any Qt GUI header: the display clashes with Xlib's type of its name.
#include "Viewer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QProgressDialog>
#include <QSaveFile>
#include <QTimer>

#include "BusyCursor.h"
#include "MovieDialog.h"
#include "MovieMaker.h"
#include "PictureDialog.h"
#include "PictureMaker.h"

namespace {
QFileDialog* SaveDialog(QWidget* parent, const char* name, const QString& filter, const QString& suffix)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix(suffix);
    // As the window's other file dialogs: a completion list left open would
    // keep the keyboard from the window.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, parent] {
        for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
            completer->popup()->hide();
        }
        parent->activateWindow();
    });
    return dialog;
}

QString AskFile(QFileDialog* dialog)
{
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return {};
    }
    const QString file = dialog->selectedFiles().front();
    // A path typed whole does not move the dialog: the next save starts in
    // the folder of this one.
    dialog->setDirectory(QFileInfo(file).absolutePath());
    return file;
}

// The frame loop waits while a picture is drawn off screen: a frame of the
// panel in between would draw into the picture's framebuffer.
class FramesWait {
public:
    FramesWait(QTimer* loop, Viewer& viewer) : loop(loop), viewer(viewer), running(loop->isActive()) { loop->stop(); }
    ~FramesWait()
    {
        // The time spent here was no frame's.
        viewer.motionQuality.Pause();
        if (running) {
            loop->start();
        }
    }
    FramesWait(const FramesWait&) = delete;
    FramesWait& operator=(const FramesWait&) = delete;

private:
    QTimer* loop;
    Viewer& viewer;
    bool running;
};
}  // namespace

ViewSaver::ViewSaver(QWidget* parent, Viewer& viewer, QTimer* frameLoop, Report report)
    : parent(parent), viewer(viewer), frameLoop(frameLoop), report(std::move(report))
{
    pictureDialog =
        SaveDialog(parent, "PictureSaveDialog", QStringLiteral("PNG picture (*.png)"), QStringLiteral("png"));
    movieDialog = SaveDialog(parent, "MovieSaveDialog", QStringLiteral("MP4 movie (*.mp4)"), QStringLiteral("mp4"));
}

bool ViewSaver::SavePicture()
{
    const QString title = QStringLiteral("Save Picture");
    PictureDialog options(parent, QSize(viewer.display.width, viewer.display.height));
    if (options.exec() != QDialog::Accepted) {
        return false;
    }
    const QString path = AskFile(pictureDialog);
    if (path.isEmpty()) {
        return false;
    }
    const QSize size = options.PictureSize();
    QImage picture;
    {
        const BusyCursor busy;
        const FramesWait wait(frameLoop, viewer);
        PictureMaker maker;
        picture = maker.Draw(viewer, size.width(), size.height(), options.Transparent());
        if (picture.isNull()) {
            report(title, path, maker.error);
            return false;
        }
    }
    // Written beside and renamed: a failed write leaves the file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        report(title, path, QStringLiteral("cannot be written: ") + file.errorString());
        return false;
    }
    return true;
}

bool ViewSaver::SaveMovie()
{
    MovieDialog options(parent, QSize(viewer.display.width, viewer.display.height), viewer.Settings().cut.clip);
    if (options.exec() != QDialog::Accepted) {
        return false;
    }
    const QString path = AskFile(movieDialog);
    if (path.isEmpty()) {
        return false;
    }
    const MovieOptions movie = options.Options();
    QProgressDialog progress(QStringLiteral("Making %1").arg(QFileInfo(path).fileName()), QStringLiteral("Cancel"), 0,
                             movie.frames, parent);
    progress.setObjectName(QStringLiteral("MovieProgress"));
    progress.setWindowTitle(QStringLiteral("Save Movie"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.show();
    const FramesWait wait(frameLoop, viewer);
    MovieMaker maker;
    // Between frames the dialog takes its events, Cancel among them.
    const bool made = maker.Make(viewer, movie, path, [&progress](int done, int) {
        progress.setValue(done);
        QApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    if (!made && !maker.cancelled) {
        report(QStringLiteral("Save Movie"), path, maker.error);
    }
    return made;
}
