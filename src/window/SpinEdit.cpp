#include "SpinEdit.h"

#include <algorithm>
#include <climits>

SpinEdit::SpinEdit(QWidget* parent, int minimum, int maximum, int value)
    : QSpinBox(parent), arrowMinimum(minimum), arrowMaximum(maximum)
{
    // The field itself accepts every integer; only the arrows are bounded.
    setRange(INT_MIN, INT_MAX);
    setValue(value);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

void SpinEdit::stepBy(int steps)
{
    const long long next = static_cast<long long>(value()) + steps;
    setValue(static_cast<int>(std::clamp<long long>(next, arrowMinimum, arrowMaximum)));
    selectAll();
}

void SpinEdit::fixup(QString& input) const { input = QString::number(arrowMinimum); }

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (value() < arrowMaximum) {
        enabled |= StepUpEnabled;
    }
    if (value() > arrowMinimum) {
        enabled |= StepDownEnabled;
    }
    return enabled;
}
