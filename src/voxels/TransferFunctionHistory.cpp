#include "TransferFunctionHistory.h"

#include <algorithm>

TransferFunctionHistory::State TransferFunctionHistory::StateOf(const TransferFunction& function)
{
    State state;
    for (int c = 0; c < 4; ++c) {
        state[size_t(c)] = function.Channel(c);
    }
    return state;
}

bool TransferFunctionHistory::Same(const State& a, const State& b)
{
    for (size_t c = 0; c < 4; ++c) {
        if (!std::equal(a[c].begin(), a[c].end(), b[c].begin(), b[c].end(),
                        [](const TransferFunction::Sample& x, const TransferFunction::Sample& y) {
                            return x.value == y.value && x.position == y.position;
                        })) {
            return false;
        }
    }
    return true;
}

void TransferFunctionHistory::Reset(const TransferFunction& function)
{
    states.assign(1, StateOf(function));
    current = 0;
    hasSaved = !function.IsModified();
    if (hasSaved) {
        saved = states.front();
    }
}

bool TransferFunctionHistory::Record(const TransferFunction& function)
{
    State state = StateOf(function);
    if (!function.IsModified()) {
        saved = state;
        hasSaved = true;
    }
    if (!states.empty() && Same(state, states[current])) {
        return false;
    }
    states.resize(states.empty() ? 0 : current + 1);
    states.push_back(std::move(state));
    if (states.size() > depth) {
        states.erase(states.begin(), states.begin() + std::ptrdiff_t(states.size() - depth));
    }
    current = states.size() - 1;
    return true;
}

bool TransferFunctionHistory::Undo(TransferFunction& function)
{
    if (!CanUndo()) {
        return false;
    }
    --current;
    Put(function);
    return true;
}

bool TransferFunctionHistory::Redo(TransferFunction& function)
{
    if (!CanRedo()) {
        return false;
    }
    ++current;
    Put(function);
    return true;
}

void TransferFunctionHistory::Put(TransferFunction& function) const
{
    for (int c = 0; c < 4; ++c) {
        function.Channel(c) = states[current][size_t(c)];
    }
    function.SetModified(!(hasSaved && Same(states[current], saved)));
}
