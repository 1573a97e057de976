#include "ScanProgress.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <limits>
#include <thread>

bool ScanProgress::Read(QWidget* parent, const QString& path, uint64_t memoryLimit, ScanVolume& scan, QString& error)
{
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    bool ok = false;
    QEventLoop loop;
    std::thread worker([&] {
        ok = ScanLoader::Read(path, memoryLimit, scan, error, &cancel);
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QProgressDialog progress(QStringLiteral("Reading %1").arg(QFileInfo(path).fileName()), QStringLiteral("Cancel"), 0,
                             0, parent);
    progress.setObjectName(QStringLiteral("ScanProgress"));
    progress.setWindowTitle(QStringLiteral("Open"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(std::numeric_limits<int>::max());
    QObject::connect(&progress, &QProgressDialog::canceled, [&cancel] { cancel = true; });
    // Only a read that takes longer than a moment shows the dialog.
    QTimer::singleShot(500, &progress, [&progress, &done] {
        if (!done) {
            progress.show();
        }
    });
    if (!done) {
        loop.exec();
    }
    worker.join();
    progress.reset();
    // A Cancel pressed as the read ended still means the user wants none of it.
    if (cancel) {
        scan = ScanVolume();
        error = QStringLiteral("cancelled");
        return false;
    }
    return ok;
}
