#include "ControlStyle.h"

#include <QApplication>
#include <QStringList>
#include <QWidget>

QFont LayoutFont()
{
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), font.family()});
    font.setPointSizeF(7.5);
    return font;
}

void StyleControlColumn(QWidget* column)
{
    // A style sheet takes the font from the application for widgets below
    // the tab pages; each control gets the column's own.
    const QFont font = column->font();
    for (QWidget* control : column->findChildren<QWidget*>()) {
        control->setFont(font);
    }
    column->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0px 2px; }"
        "QPushButton:flat { border: 1px solid transparent; border-radius: 2px; padding: 0px; }"
        "QPushButton:flat:hover { border-color: palette(dark); background-color: palette(light); }"
        "QPushButton:flat:pressed, QPushButton:flat:checked { border-color: palette(shadow);"
        " background-color: palette(midlight); }"));
}
