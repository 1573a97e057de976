#pragma once

class TransferFunction;

// Fills the transfer function every start begins with (fourteen control
// points); it counts as unsaved and has no file name.
void FillStartupTransferFunction(TransferFunction& transferFunction);
