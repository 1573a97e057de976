#include "Presets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

QString Presets::InstalledFolder()
{
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {program + QStringLiteral("/../presets"), program + QStringLiteral("/../share/volren/presets")}) {
        if (QFileInfo(folder + QStringLiteral("/presets.ini")).isFile()) {
            return QDir(folder).absolutePath();
        }
    }
    return {};
}

QString Presets::UserFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/volren/presets");
}

std::vector<Preset> Presets::List()
{
    std::vector<Preset> list;
    const QString installed = InstalledFolder();
    if (!installed.isEmpty()) {
        QSettings index(installed + QStringLiteral("/presets.ini"), QSettings::IniFormat);
        for (const QString& name : index.childGroups()) {
            Preset preset;
            preset.name = name;
            preset.path = installed + QLatin1Char('/') + name + QStringLiteral(".tf");
            index.beginGroup(name);
            preset.percentiles = index.value(QStringLiteral("fit")).toString() == QLatin1String("percentiles");
            preset.maximumIntensity = index.value(QStringLiteral("blend")).toString() == QLatin1String("maximum");
            index.endGroup();
            if (QFileInfo(preset.path).isFile()) {
                list.push_back(preset);
            }
        }
        // QSettings sorts its groups; the index's own order is the list's.
        QFile file(installed + QStringLiteral("/presets.ini"));
        std::vector<QString> order;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (line.startsWith('[') && line.endsWith(']')) {
                    order.push_back(QString::fromUtf8(line.mid(1, line.size() - 2)));
                }
            }
        }
        std::stable_sort(list.begin(), list.end(), [&order](const Preset& a, const Preset& b) {
            return std::find(order.begin(), order.end(), a.name) < std::find(order.begin(), order.end(), b.name);
        });
    }
    const QDir user(UserFolder());
    for (const QFileInfo& file : user.entryInfoList({QStringLiteral("*.tf")}, QDir::Files, QDir::Name)) {
        Preset preset;
        preset.name = file.completeBaseName();
        preset.path = file.absoluteFilePath();
        list.push_back(preset);
    }
    return list;
}

bool Presets::Find(const QString& name, Preset& preset)
{
    for (const Preset& p : List()) {
        if (p.name == name) {
            preset = p;
            return true;
        }
    }
    return false;
}

void Presets::Percentiles(const uint32_t* histogram, uint32_t maxDensity, double low, double high, uint32_t& from,
                          uint32_t& to)
{
    uint64_t total = 0;
    for (uint32_t d = 0; histogram && d <= maxDensity; ++d) {
        total += histogram[d];
    }
    from = 0;
    to = maxDensity;
    if (total == 0) {
        return;
    }
    uint64_t seen = 0;
    bool foundLow = false;
    for (uint32_t d = 0; d <= maxDensity; ++d) {
        seen += histogram[d];
        if (!foundLow && double(seen) > low * double(total)) {
            from = d;
            foundLow = true;
        }
        if (double(seen) >= high * double(total)) {
            to = d;
            break;
        }
    }
    // A volume of one density still spans a level.
    to = std::max(to, from + 1);
}

bool Presets::Read(const Preset& preset, const uint32_t* histogram, uint32_t maxDensity, TransferFunction& function,
                   QString& error)
{
    TransferFunction read;
    if (!read.Load(QFile::encodeName(preset.path).constData())) {
        error = QString::fromUtf8(read.Error());
        return false;
    }
    if (preset.percentiles) {
        uint32_t from = 0, to = 0;
        Percentiles(histogram, maxDensity, 0.001, 0.999, from, to);
        for (int c = 0; c < 4; ++c) {
            for (TransferFunction::Sample& s : read.Channel(c)) {
                s.position = uint32_t(std::lround(from + double(to - from) * double(s.position) / 4095.0));
            }
        }
    }
    for (int c = 0; c < 4; ++c) {
        function.Channel(c) = read.Channel(c);
    }
    function.SetModified(true);
    return true;
}

bool Presets::LooksLikeCt(const uint32_t* histogram, uint32_t maxDensity)
{
    if (!histogram) {
        return false;
    }
    // Densities of the CT rule: air below -800 HU, soft tissue from -150 to
    // 150 HU, bone above 300 HU.
    uint64_t total = 0, air = 0, soft = 0, bone = 0;
    for (uint32_t d = 0; d <= maxDensity; ++d) {
        total += histogram[d];
        if (d < 224) {
            air += histogram[d];
        } else if (d >= 874 && d <= 1174) {
            soft += histogram[d];
        } else if (d >= 1324) {
            bone += histogram[d];
        }
    }
    return total > 0 && air > total / 20 && soft > total / 20 && bone > total / 1000;
}

QString Presets::Suggested(const uint32_t* histogram, uint32_t maxDensity)
{
    return LooksLikeCt(histogram, maxDensity) ? QStringLiteral("CT skin and bone") : QStringLiteral("Greyscale");
}
