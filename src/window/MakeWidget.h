#pragma once

#include <QString>
#include <QWidget>

// A control of a form's fixed layout: its layout name as object name, its
// place and size in its parent.
template <typename T>
T* MakeWidget(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    T* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}
