#pragma once

#include <QString>

#include <functional>

class QFileDialog;
class QTimer;
class QWidget;
class Viewer;

// Save Picture and Save Movie of the main window: asks for the options and
// a file, draws through the engine's PictureMaker or MovieMaker and writes
// the file. The file dialogs are kept, and with them the folder last used.
// The window's frame loop waits while the pictures are drawn.
class ViewSaver {
public:
    // Tells of a failure: the command, the file and the cause.
    using Report = std::function<void(const QString& title, const QString& fileName, const QString& cause)>;

    ViewSaver(QWidget* parent, Viewer& viewer, QTimer* frameLoop, Report report);

    // Each false where nothing was saved: cancelled or failed.
    bool SavePicture();
    bool SaveMovie();

    QFileDialog* pictureDialog;
    QFileDialog* movieDialog;

private:
    QWidget* parent;
    Viewer& viewer;
    QTimer* frameLoop;
    Report report;
};
