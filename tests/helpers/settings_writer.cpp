// Child program of the settings store's crash test: writes large values into
// "<dir>/Data.ini" in an endless loop until it is killed.
//
//   settings_writer <dir> [keys] [value length]
//
// Each round first stores its number in "Progress"/"Round", then writes every
// key "Key k" of section "Block k/10" with the value of that round (see
// WriterValue). A new run finishes the round it finds stored, so after a kill
// at any moment the file must show: all keys before some k with the stored
// round's values, the rest with the previous round's (or missing in round 1).
// "ready" is printed on stdout once the store is open, "w" after every write.

#include "io/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace
{
constexpr int DefaultKeyCount = 12;
constexpr int DefaultValueLength = 1800;
constexpr int KeysPerSection = 10;
constexpr int LetterCount = 26;

// The same rule is used by the test to check what it finds.
QString WriterValue(int round, int key, int length)
{
    QString value = QStringLiteral("r%1k%2:").arg(round).arg(key);
    value.reserve(value.size() + length + 4);
    for (int i = 0; i < length; ++i)
        value += QChar(u'a' + (round * 31 + key * 7 + i) % LetterCount);
    value += QStringLiteral("公斤:end");
    return value;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: settings_writer <dir> [keys] [value length]\n");
        return 2;
    }
    const int keyCount = args.size() > 2 ? args.at(2).toInt() : DefaultKeyCount;
    const int valueLength = args.size() > 3 ? args.at(3).toInt() : DefaultValueLength;

    SettingsStore store(QDir(args.at(1)).filePath(QStringLiteral("Data.ini")));
    int round = std::max(store.ReadInteger(QStringLiteral("Progress"), QStringLiteral("Round"), 0), 1);
    std::printf("ready\n");
    std::fflush(stdout);

    for (;; ++round) {
        if (!store.WriteInteger(QStringLiteral("Progress"), QStringLiteral("Round"), round)) {
            std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
            return 1;
        }
        for (int key = 0; key < keyCount; ++key) {
            const QString section = QStringLiteral("Block %1").arg(key / KeysPerSection);
            if (!store.WriteString(section, QStringLiteral("Key %1").arg(key),
                                   WriterValue(round, key, valueLength))) {
                std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
                return 1;
            }
            std::printf("w\n");
            std::fflush(stdout);
        }
    }
}
