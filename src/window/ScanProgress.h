#pragma once

#include <QString>

#include <cstdint>

#include "ScanLoader.h"

class QWidget;

// Reads a scan on a worker thread while the window's event loop goes on
// (frames keep being drawn); a read that takes longer than a moment shows a
// progress dialog whose Cancel stops it (error "cancelled").
class ScanProgress {
public:
    static bool Read(QWidget* parent, const QString& path, uint64_t memoryLimit, ScanVolume& scan, QString& error);
};
