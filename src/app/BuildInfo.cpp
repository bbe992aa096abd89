#include "app/BuildInfo.h"

namespace BuildInfo
{
QString Version()
{
    return QStringLiteral(KELVARIN_VERSION);
}

QString ApplicationId()
{
    return QStringLiteral(KELVARIN_APP_ID);
}

QString InstalledProgramDir()
{
    return QStringLiteral(KELVARIN_INSTALL_BINDIR);
}
} // namespace BuildInfo
