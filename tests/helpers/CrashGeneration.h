#pragma once
// What crash_child writes for each generation number, shared with the crash
// suite so it can tell which generation a file holds.
//
// A generation's settings are stored in the order of SettingsWriteOrder: the
// six values of the system-parameters dialog's OK, then "StayOnTop" (menu item
// F1) and "ViewDataMarker" (check box). Whole-number values are distinct per
// generation; the two booleans follow its parity. The export of a generation
// holds SamplePointCount points in channel 0 with the values SampleX/SampleY.

#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QString>

#include <array>
#include <cmath>

namespace CrashGeneration
{

constexpr int BaudEven = 9600;
constexpr int BaudOdd = 19200;
constexpr int DecimalChoices = 5; // the dialog offers 0..4
constexpr int ReadIntervalBase = 20;
constexpr double YMaxBase = 1000;
constexpr double SampleGenerationStep = 1000;
constexpr int SampleCycle = 977;
constexpr double SampleFraction = 0.25;

// Lines crash_child prints, each followed by the generation number.
inline constexpr char LineReady[] = "ready";                  // start-up done, first generation
inline constexpr char LineSettingsBegin[] = "settings-begin"; // settings writes start
inline constexpr char LineSettingsDone[] = "settings";        // all settings keys stored
inline constexpr char LineExportBegin[] = "export-begin";     // export handler called
inline constexpr char LineExportDone[] = "export";            // export handler returned

struct Settings {
    QString measureUnit;
    int decimal = 0;
    double yMin = 0;
    double yMax = 0;
    int readInterval = 0;
    int baud = 0;
    bool stayOnTop = false;
    bool viewDataMarker = false;
};

inline bool isOdd(int generation)
{
    return generation % 2 != 0;
}

inline Settings SettingsOf(int generation)
{
    Settings s;
    s.measureUnit = QStringLiteral("g%1").arg(generation);
    s.decimal = ((generation % DecimalChoices) + DecimalChoices) % DecimalChoices;
    s.yMin = -double(generation);
    s.yMax = YMaxBase + generation;
    s.readInterval = ReadIntervalBase + generation;
    s.baud = isOdd(generation) ? BaudOdd : BaudEven;
    s.stayOnTop = isOdd(generation);
    s.viewDataMarker = isOdd(generation);
    return s;
}

/// The generation a measure-unit text names; -1 when it names none.
inline int GenerationOfUnit(const QString &unit)
{
    if (!unit.startsWith(u'g'))
        return -1;
    bool ok = false;
    const int generation = unit.mid(1).toInt(&ok);
    return ok ? generation : -1;
}

constexpr int SettingsKeyCount = 8;
/// The first keys, stored by one confirmation of the system-parameters dialog.
constexpr int DialogKeyCount = 6;

/// Whether key number `index` (in write order) of the file holds the value of
/// `generation`.
inline bool KeyHolds(const SettingsStore &store, int index, int generation)
{
    namespace K = SettingsKeys;
    const Settings s = SettingsOf(generation);
    const QString section = K::SectionSystemParameters;
    constexpr int Missing = -1000000;
    switch (index) {
    case 0:
        return store.ReadString(section, K::KeyMeasureUnit, QString()) == s.measureUnit;
    case 1:
        return store.ReadInteger(section, K::KeyDecimal, Missing) == s.decimal;
    case 2:
        return store.ReadFloat(section, K::KeyYMin, NAN) == s.yMin;
    case 3:
        return store.ReadFloat(section, K::KeyYMax, NAN) == s.yMax;
    case 4:
        return store.ReadInteger(section, K::KeyReadInterval, Missing) == s.readInterval;
    case 5:
        return store.ReadInteger(section, K::KeyBaud, Missing) == s.baud;
    case 6:
        return store.ReadInteger(section, K::KeyStayOnTop, Missing) == int(s.stayOnTop);
    case 7:
        return store.ReadInteger(K::SectionRuntime, K::KeyViewDataMarker, Missing) == int(s.viewDataMarker);
    default:
        return false;
    }
}

inline double SampleX(qsizetype i)
{
    return double(i + 1);
}

inline double SampleY(int generation, qsizetype i)
{
    return generation * SampleGenerationStep + double(i % SampleCycle) * SampleFraction;
}

/// The generation whose first sample is y0; -1 when none is.
inline int GenerationOfFirstSample(double y0)
{
    const double generation = y0 / SampleGenerationStep;
    if (!std::isfinite(generation) || generation != std::floor(generation))
        return -1;
    return int(generation);
}

} // namespace CrashGeneration
