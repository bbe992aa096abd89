#pragma once
// Where the settings file "Data.ini" lives.
//
// - Beside the executable when that directory takes new files: the portable
//   use the program has always had. Whether it does is found out by creating
//   a file there and removing it again (permission bits do not tell: root,
//   access lists, read-only mounts).
// - Otherwise in the per-user configuration directory. When the file is not
//   there yet, a readable "Data.ini" beside the executable is copied there
//   first, so the values of an installation carry over. A file that exists
//   there is never replaced, not even by a second copy of the program starting
//   at the same moment.
// - When that copy cannot be made, the file beside the executable is used as
//   it is: its values are in force, and writes fail visibly (the settings store
//   reports every failed write) instead of starting from defaults without a word.

#include <QString>

namespace SettingsLocation
{
struct Choice {
    QString filePath;     ///< the "Data.ini" to use
    bool perUser = false; ///< filePath is in the per-user configuration directory
    bool seeded = false;  ///< the per-user file was copied from beside the executable just now
    QString problem;      ///< why the per-user file could not be prepared; empty when all went well
};

/// The settings file for a program in `executableDir`. With `besideAllowed`
/// false (a copy installed in the system's program directory) the settings
/// never go beside the executable, even where it could write there; a file
/// found there still seeds the per-user one.
Choice Resolve(const QString &executableDir, const QString &perUserDir, bool besideAllowed = true);

/// True when a new file can be created in `directory` (it is removed again).
bool TakesNewFiles(const QString &directory);
} // namespace SettingsLocation
