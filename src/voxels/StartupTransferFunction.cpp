#include "StartupTransferFunction.h"

#include "TransferFunction.h"

void FillStartupTransferFunction(TransferFunction& transferFunction)
{
    transferFunction.Clear();
    transferFunction.AddSample(0, 10, 0);
    transferFunction.AddSample(0, 0, 1);
    transferFunction.AddSample(0, 0, 20000);
    transferFunction.AddSample(1, 0, 0);
    transferFunction.AddSample(1, 255, 100);
    transferFunction.AddSample(1, 0, 500);
    transferFunction.AddSample(1, 0, 20000);
    transferFunction.AddSample(2, 0, 0);
    transferFunction.AddSample(2, 255, 600);
    transferFunction.AddSample(2, 0, 20000);
    transferFunction.AddSample(3, 0, 0);
    transferFunction.AddSample(3, 100, 2000);
    transferFunction.AddSample(3, 150, 6000);
    transferFunction.AddSample(3, 255, 20000);
}
