#include <GL/glew.h>

#include "ScanLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <limits>

#include "PrintableText.h"
#include "VolumeRenderer.h"

#ifdef VOLREN_HAS_IMPORT
#include "ImageReader.h"
#include "ValueRule.h"
#endif

bool ScanLoader::IsScan(const QString& path) { return !path.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive); }

bool ScanLoader::Read(const QString& path, uint64_t memoryLimit, ScanVolume& scan, QString& error,
                      const std::atomic<bool>* cancel)
{
#ifdef VOLREN_HAS_IMPORT
    const std::string file = QFile::encodeName(path).toStdString();
    ReadLimits limits;
    limits.memoryLimit = memoryLimit;
    limits.cancel = cancel;
    limits.densities = true;
    ScalarVolume volume;
    SourceInfo info;
    std::string notes;
    std::string cause;
    const QFileInfo where(path);
    bool read = false;
    if (!where.exists()) {
        cause = "no such file or folder";
    } else if (where.isDir()) {
        read = ReadDicomSeries(file, std::string(), volume, info, notes, cause, limits);
    } else {
        read = ReadImageFile(file, volume, info, notes, cause, limits, true);
    }
    if (read) {
        for (const double s : volume.spacing) {
            if (!std::isfinite(s) || s <= 0.0) {
                cause = "has a voxel spacing of " + FormatNumber(volume.spacing[0]) + " x " +
                        FormatNumber(volume.spacing[1]) + " x " + FormatNumber(volume.spacing[2]) +
                        ", which cannot be drawn";
                read = false;
                break;
            }
        }
    }
    if (!read) {
        // Parts of a damaged header may be quoted: one line, nothing a
        // terminal or a message box would act on.
        error = QString::fromStdString(PrintableText(cause));
        return false;
    }
    // The reader mapped the samples by the value rule: the densities arrive
    // as they are drawn, and no float copy of the scan is made here.
    for (int d = 0; d < 3; ++d) {
        scan.size[d] = uint32_t(volume.size[d]);
    }
    scan.spacing = Vec3{float(volume.spacing[0]), float(volume.spacing[1]), float(volume.spacing[2])};
    auto block = std::make_shared<DensityBlock>(std::move(volume.densities));
    scan.densities = block->data();
    scan.release = [block = block.get()](uint64_t first, uint64_t end) { block->Release(first, end); };
    scan.memory = std::move(block);
    const bool niftiFile = info.description == "NIfTI";
    scan.kind = info.hounsfield                      ? ScanVolume::Kind::Ct
                : info.modality == "MR" || niftiFile ? ScanVolume::Kind::Mri
                                                     : ScanVolume::Kind::Other;
    scan.description = notes + info.description + ", " + std::to_string(scan.size[0]) + " x " +
                       std::to_string(scan.size[1]) + " x " + std::to_string(scan.size[2]) + " " + info.typeName +
                       ", spacing " + FormatNumber(volume.spacing[0]) + " x " + FormatNumber(volume.spacing[1]) +
                       " x " + FormatNumber(volume.spacing[2]) + "\nvalues: " + info.valueRule + "\n";
    return true;
#else
    (void)path;
    (void)memoryLimit;
    (void)scan;
    (void)cancel;
    error = QStringLiteral("this build reads only volume data files (.dat): it was built without ITK");
    return false;
#endif
}

bool ScanLoader::Fits(VolumeRenderer& renderer, const ScanVolume& scan, QString& error)
{
    const std::string refusal = renderer.GridRefusal(scan.size[0], scan.size[1], scan.size[2]);
    error = QString::fromStdString(refusal);
    return refusal.empty();
}

bool ScanLoader::Load(VolumeRenderer& renderer, const QString& path, const ScanVolume& scan)
{
    return renderer.LoadGrid(QFile::encodeName(path).constData(), scan.size[0], scan.size[1], scan.size[2],
                             scan.densities, scan.spacing, scan.release);
}

QString ScanLoader::SampleFunction(ScanVolume::Kind kind)
{
    if (kind == ScanVolume::Kind::Other) {
        return {};
    }
    const QString name = kind == ScanVolume::Kind::Ct ? QStringLiteral("ct.tf") : QStringLiteral("mri.tf");
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {program + QStringLiteral("/../share/volren/samples"), program + QStringLiteral("/../samples")}) {
        const QFileInfo file(QDir(folder).filePath(name));
        if (file.isFile()) {
            return file.canonicalFilePath();
        }
    }
    return {};
}
