// Child program of the settings-location suite: chooses the settings file as
// the program does at start-up, run as a user whose permissions count (the
// suite itself may run as root, which ignores them).
//
//   settings_location <executable dir> <per-user dir>
//
// Prints three lines: the file chosen, "seeded" when it was copied just now
// (else "-"), and the problem (empty when there was none).

#include "io/SettingsLocation.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: settings_location <executable dir> <per-user dir>\n");
        return 2;
    }
    const SettingsLocation::Choice choice = SettingsLocation::Resolve(args.at(1), args.at(2));
    std::printf("%s\n%s\n%s\n", qUtf8Printable(choice.filePath), choice.seeded ? "seeded" : "-",
                qUtf8Printable(choice.problem));
    return 0;
}
