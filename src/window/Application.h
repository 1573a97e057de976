#pragma once

#include <QApplication>

// The program's application object. An exception that leaves an event
// handler or a frame is caught here, at the message loop, and shown in a
// message box; the loop goes on with the next event and the next frame.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the text of a caught exception in the standard message box.
    void ShowException(const QString& text);

private:
    bool showingException = false;
};
