#include "DrawingSurface.h"

#include <QMouseEvent>
#include <QPainter>

DrawingSurface::DrawingSurface(QWidget* parent, int width, int height)
    : QWidget(parent), picture(width, height, QImage::Format_RGB32)
{
    picture.fill(Qt::white);
    setFixedSize(width, height);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void DrawingSurface::Show() { update(); }

void DrawingSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, picture);
}

void DrawingSurface::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit MouseMove(p.x(), p.y());
}

void DrawingSurface::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit MouseDown(p.x(), p.y());
}

void DrawingSurface::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit MouseUp(p.x(), p.y());
}
