// Prints what the settings store costs: opening, reads, writes that reach the
// disk, and writes that change nothing.

#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int ReadCount = 100000;
constexpr int WriteCount = 100;
constexpr int LargeKeyCount = 1000;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/// The keys a real "Data.ini" holds after a calibration.
void fillTypical(SettingsStore &store)
{
    using namespace SettingsKeys;
    store.WriteString(SectionCommunication, KeyComPort, DefaultComPort);
    store.WriteInteger(SectionFilter, KeyAverageCount, DefaultAverageCount);
    store.WriteInteger(SectionSystemParameters, KeyReadInterval, DefaultReadInterval);
    store.WriteInteger(SectionSystemParameters, KeyWaitInterval, DefaultWaitInterval);
    store.WriteBool(SectionSystemParameters, KeyStayOnTop, DefaultStayOnTop);
    store.WriteString(SectionSystemParameters, KeyMeasureUnit, DefaultMeasureUnit);
    store.WriteInteger(SectionSystemParameters, KeyDecimal, DefaultDecimal);
    store.WriteFloat(SectionSystemParameters, KeyYMin, DefaultYMin);
    store.WriteFloat(SectionSystemParameters, KeyYMax, DefaultYMax);
    store.WriteInteger(SectionSystemParameters, KeyBaud, DefaultBaud);
    store.WriteInteger(SectionDefault, KeyDeviceNumber, DefaultDeviceNumber);
    store.WriteBool(SectionRuntime, KeyViewDataMarker, DefaultViewDataMarker);
    store.WriteString(SectionSystem, KeyApplicationName, DefaultApplicationName);
    store.WriteString(SectionSystem, KeyHomePage, DefaultHomePage);
    for (int k = LinearPointFirst; k <= LinearPointLast; ++k) {
        store.WriteInteger(LinearPointSection(k), KeyPV, DefaultLinearPointPV(k));
        store.WriteInteger(LinearPointSection(k), KeyAV, 100000 * k);
    }
}

void measureWrites(const char *label, SettingsStore &store)
{
    std::vector<double> changed;
    std::vector<double> unchanged;
    QElapsedTimer timer;
    for (int i = 0; i < WriteCount; ++i) {
        timer.start();
        store.WriteInteger(SettingsKeys::SectionDefault, SettingsKeys::KeyDeviceNumber, i % 256);
        changed.push_back(timer.nsecsElapsed() / 1e6);
        timer.start();
        store.WriteInteger(SettingsKeys::SectionDefault, SettingsKeys::KeyDeviceNumber, i % 256);
        unchanged.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("%-34s changed value: median %.3f ms, max %.3f ms; same value again: median %.3f ms\n", label,
                median(changed), *std::max_element(changed.begin(), changed.end()), median(unchanged));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(SettingsKeys::FileName);

    {
        SettingsStore store(path);
        fillTypical(store);
    }
    QElapsedTimer timer;
    timer.start();
    SettingsStore store(path);
    std::printf("open a typical file (%lld bytes):     %.3f ms\n", QFileInfo(path).size(),
                timer.nsecsElapsed() / 1e6);

    timer.start();
    qint64 sum = 0;
    for (int i = 0; i < ReadCount; ++i)
        sum += store.ReadInteger(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyBaud, 0);
    std::printf("ReadInteger:                        %.2f us per read (checksum %lld)\n",
                timer.nsecsElapsed() / 1e3 / ReadCount, sum);

    measureWrites("write, typical file:", store);

    for (int i = 0; i < LargeKeyCount; ++i)
        store.WriteString(QStringLiteral("Bulk %1").arg(i / 50), QStringLiteral("Key %1").arg(i),
                          QString(100, u'v'));
    const QString label = QStringLiteral("write, %1 KB file:").arg(QFileInfo(path).size() / 1024);
    measureWrites(qPrintable(label), store);
    return 0;
}
