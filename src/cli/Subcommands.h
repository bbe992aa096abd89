#pragma once
// The subcommands of kelvarin-cli. Each one declares its options on its own
// parser and runs with the parsed options; a new subcommand is one more row
// of the table in Subcommands.cpp.

#include "cli/CliCommon.h"

#include <QCommandLineParser>

#include <vector>

struct Subcommand {
    const char *name;
    const char *summary; ///< English source text, translated where it is shown
    const char *usage;   ///< arguments after the name, for --help
    void (*declare)(QCommandLineParser &parser);
    /// Runs it; a failure throws CliError.
    ExitCode (*run)(const QCommandLineParser &parser);
};

const std::vector<Subcommand> &Subcommands();

// The subcommands, by the file that holds them.
void DeclareScan(QCommandLineParser &parser);
ExitCode RunScan(const QCommandLineParser &parser);
void DeclareRead(QCommandLineParser &parser);
ExitCode RunRead(const QCommandLineParser &parser);
void DeclareWatch(QCommandLineParser &parser);
ExitCode RunWatch(const QCommandLineParser &parser);
void DeclareMonitor(QCommandLineParser &parser);
ExitCode RunMonitor(const QCommandLineParser &parser);
void DeclareParam(QCommandLineParser &parser);
ExitCode RunParam(const QCommandLineParser &parser);
void DeclareZero(QCommandLineParser &parser);
ExitCode RunZero(const QCommandLineParser &parser);
void DeclareCalibrate(QCommandLineParser &parser);
ExitCode RunCalibrate(const QCommandLineParser &parser);
