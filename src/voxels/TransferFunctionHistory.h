#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "TransferFunction.h"

// The states a transfer function went through, for undo and redo, and the
// state last saved or loaded, so that a function undone back to it counts
// as unmodified.
class TransferFunctionHistory {
public:
    using State = std::array<std::vector<TransferFunction::Sample>, 4>;

    // The most states kept; the oldest go first.
    static constexpr size_t depth = 100;

    static State StateOf(const TransferFunction& function);
    static bool Same(const State& a, const State& b);

    // Starts again from the function as it is, which counts as saved where
    // the function is unmodified.
    void Reset(const TransferFunction& function);
    // Takes the function's state where it differs from the current one; the
    // states undone before are dropped. True where it took it. A function
    // that reports itself unmodified (just loaded or saved) makes its state
    // the saved one.
    bool Record(const TransferFunction& function);
    // Puts the state before (or after) the current one into the function and
    // marks it modified unless it is the saved state; false where there is
    // none.
    bool Undo(TransferFunction& function);
    bool Redo(TransferFunction& function);
    bool CanUndo() const { return current > 0; }
    bool CanRedo() const { return current + 1 < states.size(); }

private:
    void Put(TransferFunction& function) const;

    std::vector<State> states;
    size_t current = 0;
    State saved;
    bool hasSaved = false;
};
