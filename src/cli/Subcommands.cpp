#include "cli/Subcommands.h"

const std::vector<Subcommand> &Subcommands()
{
    static const std::vector<Subcommand> table{
        {"scan",
         QT_TRANSLATE_NOOP("KelvarinCli", "Find the modules on the line (asks every address of a range)."),
         "", DeclareScan, RunScan},
        {"read", QT_TRANSLATE_NOOP("KelvarinCli", "Read the measured value of one module, repeatedly."), "",
         DeclareRead, RunRead},
        {"param", QT_TRANSLATE_NOOP("KelvarinCli", "Read or write a general parameter (codes 2..22)."),
         "get|set", DeclareParam, RunParam},
        {"zero",
         QT_TRANSLATE_NOOP("KelvarinCli", "Zero calibration: the unloaded sensor reads zero afterwards."), "",
         DeclareZero, RunZero},
        {"calibrate",
         QT_TRANSLATE_NOOP("KelvarinCli",
                           "Multi-point calibration: write 2..9 points (AD code and output value)."),
         "", DeclareCalibrate, RunCalibrate},
        {"watch",
         QT_TRANSLATE_NOOP("KelvarinCli",
                           "Watch several modules round after round, one CSV row a round, until stopped."),
         "", DeclareWatch, RunWatch},
        {"monitor",
         QT_TRANSLATE_NOOP("KelvarinCli", "Show the frames on the line, one per line (sends nothing)."), "",
         DeclareMonitor, RunMonitor},
    };
    return table;
}
