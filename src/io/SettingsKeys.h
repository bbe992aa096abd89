#pragma once
// Sections, keys and defaults of the settings file "Data.ini".
//
// Names are QLatin1String constants: they convert implicitly to QString, so
// they can be passed straight to SettingsStore, e.g.
//   store.ReadInteger(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyReadInterval,
//                     SettingsKeys::DefaultReadInterval);

#include <QLatin1String>
#include <QString>
#include <QtGlobal>

namespace SettingsKeys
{

/// Name of the settings file in the executable's directory.
inline constexpr QLatin1String FileName{"Data.ini"};
/// Largest settings file the program reads. What it writes is about a
/// kilobyte (a few dozen keys, values of at most 2047 characters); a file of
/// more than a mebibyte is something else in its place (a log, a data file)
/// and is not read: reading it would cost memory and time at every check for
/// changes.
inline constexpr qint64 MaxFileBytes = qint64(1) << 20;

// Sections.
inline constexpr QLatin1String SectionCommunication{"Communication Parameters"};
inline constexpr QLatin1String SectionFilter{"Filter"};
inline constexpr QLatin1String SectionSystemParameters{"System Parameters"};
inline constexpr QLatin1String SectionDefault{"Default"};
inline constexpr QLatin1String SectionRuntime{"Runtime"};
inline constexpr QLatin1String SectionSystem{"System"};
/// Prefix of the calibration point sections "LinearPoint1" .. "LinearPoint9".
inline constexpr QLatin1String SectionLinearPointPrefix{"LinearPoint"};

// "Communication Parameters"
inline constexpr QLatin1String KeyComPort{"Com Port"};
inline constexpr QLatin1String DefaultComPort{"com1"};

// "Filter"
inline constexpr QLatin1String KeyAverageCount{"Average Count"};
inline constexpr int DefaultAverageCount = 16;

// "System Parameters"
inline constexpr QLatin1String KeyReadInterval{"Read Interval"}; // milliseconds
inline constexpr int DefaultReadInterval = 100;
inline constexpr QLatin1String KeyWaitInterval{"Wait Interval"}; // milliseconds
inline constexpr int DefaultWaitInterval = 200;
inline constexpr QLatin1String KeyStayOnTop{"StayOnTop"};
inline constexpr bool DefaultStayOnTop = false;
inline constexpr QLatin1String KeyMeasureUnit{"Measure Unit"};
inline constexpr QLatin1String DefaultMeasureUnit{"kg"};
inline constexpr QLatin1String KeyDecimal{"Decimal"};
inline constexpr int DefaultDecimal = 1;
inline constexpr QLatin1String KeyYMin{"YMin"};
inline constexpr double DefaultYMin = 0.0;
inline constexpr QLatin1String KeyYMax{"YMax"};
inline constexpr double DefaultYMax = 10000.0;
inline constexpr QLatin1String KeyBaud{"Baud"}; // bits per second
inline constexpr int DefaultBaud = 9600;

// "Default"
inline constexpr QLatin1String KeyDeviceNumber{"Device Number"};
inline constexpr int DefaultDeviceNumber = 1;

// The numbers the program runs on, with the range it can use. The file may
// hold anything (it is edited by hand, copied, damaged): SettingsStore::Read
// gives the default for text that is no number and brings a number outside
// the range to its nearest end, so no stored value can stop, freeze or flood
// the program. Every reader of these keys goes through them.
struct IntegerSetting {
    QLatin1String section;
    QLatin1String key;
    int defaultValue;
    int minimum;
    int maximum;
};
struct FloatSetting {
    QLatin1String section;
    QLatin1String key;
    double defaultValue;
    double minimum;
    double maximum;
};

/// Samples averaged per calibration point: at least one to divide by; a
/// thousand at the default pause is over three minutes of a modal run.
inline constexpr IntegerSetting AverageCount{SectionFilter, KeyAverageCount, DefaultAverageCount, 1, 1000};
/// Polling period in ms: the system-parameters dialog's range.
inline constexpr IntegerSetting ReadInterval{SectionSystemParameters, KeyReadInterval, DefaultReadInterval,
                                             20, 1000000000};
/// Pause in ms between the exchanges of a calibration. The pause blocks the
/// window, so it is kept below the few seconds after which the program would
/// look hung.
inline constexpr IntegerSetting WaitInterval{SectionSystemParameters, KeyWaitInterval, DefaultWaitInterval, 0,
                                             5000};
/// Decimals of the value display: the system-parameters dialog's range.
inline constexpr IntegerSetting Decimal{SectionSystemParameters, KeyDecimal, DefaultDecimal, 0, 4};
/// Ends of the chart's vertical axis: far beyond any value a module sends
/// (a 32-bit integer), small enough that their difference stays finite.
inline constexpr double YLimit = 1e12;
inline constexpr FloatSetting YMin{SectionSystemParameters, KeyYMin, DefaultYMin, -YLimit, YLimit};
inline constexpr FloatSetting YMax{SectionSystemParameters, KeyYMax, DefaultYMax, -YLimit, YLimit};
/// Line speed in bits per second, any rate (not only the dialog's list):
/// from the slowest to the fastest rate serial drivers offer.
inline constexpr IntegerSetting Baud{SectionSystemParameters, KeyBaud, DefaultBaud, 50, 4000000};
/// Bus address: the address field's range (0 is the broadcast address).
inline constexpr IntegerSetting DeviceNumber{SectionDefault, KeyDeviceNumber, DefaultDeviceNumber, 0, 255};

// "Runtime"
inline constexpr QLatin1String KeyViewDataMarker{"ViewDataMarker"};
inline constexpr bool DefaultViewDataMarker = false;

// "System" (seeded at the first start, then left to the operator)
inline constexpr QLatin1String KeyApplicationName{"Application Name"};
inline constexpr QLatin1String DefaultApplicationName{"Kelvarin"};
inline constexpr QLatin1String KeyHomePage{"HomePage"};
/// The maker's web address followed by six blanks; the blanks belong to the value.
inline constexpr QLatin1String DefaultHomePage{"http://www.kelvarin.com      "};

// "Interface" (added later: files without it read as Chinese)
inline constexpr QLatin1String SectionInterface{"Interface"};
inline constexpr QLatin1String KeyLanguage{"Language"};
inline constexpr QLatin1String LanguageChinese{"zh_CN"};
inline constexpr QLatin1String LanguageEnglish{"en"};
inline constexpr QLatin1String DefaultLanguage = LanguageChinese;

// "Watch" (added later: files without it read as an empty watch). The watch
// of several modules on the line. Values are fields separated by ";":
//   Module<n>=address;name;decimals;unit;charted     e.g. Module1=3;左前;1;kg;1
//   Channel<n>=kind;members;name;unit                e.g. Channel1=sum;1,2,3,4;总重;kg
//     kind sum, mean or diff (first member minus second); members are module
//     numbers n of the Module<n> keys, separated by ","
//   Limit.<name>=low;high                            e.g. Limit.总重=0;20000
//     a channel's (module's or computed channel's) limits; an empty side has none
// n counts from 1; a missing or empty key is skipped. Names lose ";", "=",
// "[", "]" and control characters, and are cut to WatchNameLength characters.
// On reading, every number is brought into range: an address into 1..255,
// decimals into Decimal's range, charted is 0 or 1 (any other number is 1);
// an entry without a usable address, a second entry of the same address, a
// channel without enough usable members and a limit that is no number are
// left out (the limit's other side still counts).
inline constexpr QLatin1String SectionWatch{"Watch"};
inline constexpr QLatin1String KeyWatchModulePrefix{"Module"};
inline constexpr QLatin1String KeyWatchChannelPrefix{"Channel"};
inline constexpr QLatin1String KeyWatchLimitPrefix{"Limit."};
inline constexpr QLatin1String WatchKindSum{"sum"};
inline constexpr QLatin1String WatchKindMean{"mean"};
inline constexpr QLatin1String WatchKindDifference{"diff"};
inline constexpr int WatchModulesMax = 255;
inline constexpr int WatchChannelsMax = 32;
inline constexpr int WatchNameLength = 32;
/// Time from the start of one round to the start of the next, ms; 0: as fast as the line allows.
inline constexpr IntegerSetting WatchInterval{SectionWatch, QLatin1String("Interval"), 0, 0, 3600000};
/// Time-out of each module's poll, ms: the bus scan's range.
inline constexpr IntegerSetting WatchTimeout{SectionWatch, QLatin1String("Timeout"), 200, 20, 2000};
/// Polls missed in a row before a module counts as lost.
inline constexpr IntegerSetting WatchLostAfter{SectionWatch, QLatin1String("LostAfter"), 3, 1, 1000};
/// A lost module is asked every this many rounds.
inline constexpr IntegerSetting WatchLostRetry{SectionWatch, QLatin1String("LostRetry"), 10, 1, 10000};
/// The "last N seconds" of the watch's statistics.
inline constexpr IntegerSetting WatchStatisticsSeconds{SectionWatch, QLatin1String("StatisticsSeconds"), 60, 1, 86400};
/// Whether a new alarm beeps: 0 or 1.
inline constexpr IntegerSetting WatchBeep{SectionWatch, QLatin1String("Beep"), 0, 0, 1};

// "MQTT" (added later: files without it publish nothing). Publishing every
// value the main window reads to a plant's MQTT broker:
//   Enabled=0|1              publish (0 by default)
//   Broker=mqtt://host:port  or mqtts://host:port (TLS); text that is no
//                            broker address reads as DefaultMqttBroker
//   Line=line1               the line's name in the topics; empty reads as
//                            DefaultMqttLine
//   User=, Password=         for the broker; the password is kept here as
//                            plain text (the file is the operator's own)
//   CA File=                 mqtts: CA certificates (PEM); empty: the system's
//   Rate=20                  values per second per module, MqttRate's range
//   Discovery=0|1            Home Assistant discovery
// Texts lose control characters and are cut to MqttTextLength characters.
inline constexpr QLatin1String SectionMqtt{"MQTT"};
inline constexpr QLatin1String KeyMqttEnabled{"Enabled"};
inline constexpr bool DefaultMqttEnabled = false;
inline constexpr QLatin1String KeyMqttBroker{"Broker"};
inline constexpr QLatin1String DefaultMqttBroker{"mqtt://localhost"};
inline constexpr QLatin1String KeyMqttLine{"Line"};
inline constexpr QLatin1String DefaultMqttLine{"line1"};
inline constexpr QLatin1String KeyMqttUser{"User"};
inline constexpr QLatin1String KeyMqttPassword{"Password"};
inline constexpr QLatin1String KeyMqttCaFile{"CA File"};
inline constexpr QLatin1String KeyMqttDiscovery{"Discovery"};
inline constexpr bool DefaultMqttDiscovery = false;
inline constexpr int MqttTextLength = 1024;
/// Values per second per module: one a second up to more than any line delivers.
inline constexpr IntegerSetting MqttRate{SectionMqtt, QLatin1String("Rate"), 20, 1, 1000};

// "LinearPoint"k, k = 1..9
inline constexpr int LinearPointFirst = 1;
inline constexpr int LinearPointLast = 9;
inline constexpr QLatin1String KeyPV{"PV"}; // output value proposed for the point
inline constexpr QLatin1String KeyAV{"AV"}; // averaged AD code measured for the point (no default)

/// Section name of calibration point k: "LinearPoint" followed by k in decimal digits.
inline QString LinearPointSection(int k)
{
    return QString(SectionLinearPointPrefix) + QString::number(k);
}

/// Default "PV" of calibration point k: equal steps from 0 (k = 1) to 1000000 (k = 9).
constexpr int DefaultLinearPointPV(int k)
{
    return (k - 1) * 1000000 / 8;
}

} // namespace SettingsKeys
