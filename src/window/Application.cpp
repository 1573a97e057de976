#include "Application.h"

#include <QMessageBox>

#include <cstdio>
#include <exception>

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
    QString text;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        text = QString::fromLocal8Bit(error.what());
    } catch (...) {
    }
    // The box opens once the failed event is over: opened inside a frame, it
    // would hold that frame's timer and no frame would follow while it is open.
    QMetaObject::invokeMethod(
        this, [this, text] { ShowException(text); }, Qt::QueuedConnection);
    return false;
}

void Application::ShowException(const QString& text)
{
    // Frames go on inside the box; a frame that throws again must not open a
    // box over the box, so further exceptions meanwhile go to standard error.
    if (showingException) {
        std::fprintf(stderr, "Exception: %s\n", text.toLocal8Bit().constData());
        return;
    }
    showingException = true;
    QMessageBox box(QMessageBox::Critical, applicationName(), text, QMessageBox::Ok, activeWindow());
    box.setObjectName(QStringLiteral("ExceptionBox"));
    box.exec();
    showingException = false;
}
