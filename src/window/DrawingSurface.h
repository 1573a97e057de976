#pragma once

#include <QImage>
#include <QWidget>

// A widget that shows a picture drawn off screen and reports the mouse in
// its own pixel coordinates, also while no button is held.
class DrawingSurface : public QWidget {
    Q_OBJECT

public:
    DrawingSurface(QWidget* parent, int width, int height);

    // What the owner draws on; Show puts it on screen.
    QImage picture;
    void Show();

signals:
    void MouseMove(int x, int y);
    void MouseDown(int x, int y);
    void MouseUp(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
