#pragma once
// What the build tells the program about itself (set in src/app/CMakeLists.txt).

#include <QString>

namespace BuildInfo
{
/// The program's version, as the project declares it ("1.4.0208").
QString Version();
/// The application's id: the name of its desktop entry and of its icon.
QString ApplicationId();
/// The directory an installation puts the program in ("/usr/bin" for the package).
QString InstalledProgramDir();
} // namespace BuildInfo
