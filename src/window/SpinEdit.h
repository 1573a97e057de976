#pragma once

#include <QSpinBox>

// An integer spin field whose arrows keep the value within a range while a
// typed integer is taken as it is, also outside that range; text that is no
// integer becomes the range's minimum.
class SpinEdit : public QSpinBox {
    Q_OBJECT

public:
    SpinEdit(QWidget* parent, int minimum, int maximum, int value);

    int ArrowMinimum() const { return arrowMinimum; }
    int ArrowMaximum() const { return arrowMaximum; }

    void stepBy(int steps) override;
    void fixup(QString& input) const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    int arrowMinimum;
    int arrowMaximum;
};
