#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace linvera::soak {

struct SoakOptions
{
    int conversions = 10000;
    int secondStarts = 1000;
    /// Conversions after which resident memory is first read; 0: the smaller of 1,000 and a fifth.
    int memoryBaselineAt = 0;
    /// Folder of H-Linvera and H-LinveraHelper.
    QString programFolder;
    quint32 seed = 20261207;
    /// Allowed growth of resident memory from the baseline to the end, in percent.
    double memoryGrowthGoalPercent = 10.0;
    /// Also probes that end in a socket error (reset, closed, refused). Each shows a message box
    /// that waits for a user, and nothing closes them during a soak.
    bool probeSocketErrors = false;
    /// Set in the environment of the programs started (besides the private folders and bus).
    QList<std::pair<QString, QString>> programEnvironment;
    /// Each printed line (progress and figures).
    std::function<void(const QString&)> print;
};

struct SoakFigures
{
    int conversionsRun = 0;
    int emptyInputs = 0;
    int faultsAsked = 0;
    int peerRequests = 0;
    int peerFaults = 0;
    int resultsChecked = 0;
    int resultsCheckedLater = 0;
    int resultsNotCheckable = 0; // a handed-over URL's conversion overlapped them
    int resultMismatches = 0;
    QStringList mismatchSamples;
    double baselineRssMb = -1;
    double endRssMb = -1;
    int baselineAt = 0;
    int fdsAtStart = -1;
    int fdsAtEnd = -1;
    QStringList fdsAdded;
    qint64 logLines = -1;
    qint64 logLinesExpected = -1;
    int logUnknownLines = 0;
    int logMissing = 0;
    int logDuplicates = 0;
    int handOffsStarted = 0;
    int handOffsSeen = 0;
    int handOffsLost = 0;
    int handOffsSeenTwice = 0;
    int secondStartFailures = 0;
    double handOffMedianMs = -1;
    double handOffMaxMs = -1;
    bool aliveAtEnd = false;
    int quitExitCode = -1;
    double seconds = 0;
};

struct SoakResult
{
    SoakFigures figures;
    /// One line per check that failed; empty when all held.
    QStringList failures;
    /// Why the soak could not run at all (no bus, no program); empty when it ran.
    QString setupError;
    bool passed() const { return setupError.isEmpty() && failures.isEmpty(); }
};

/// Starts loopback peers, a private session bus and a running H-Linvera in a private home, drives
/// conversions of every kind through the automation interface with faults mixed in and second
/// starts handing over URLs, then checks that the program is alive, its memory and descriptors,
/// its log and the handed-over URLs. Blocks until done; prints as it goes.
SoakResult runSoak(const SoakOptions& options);

/// The figures and checks as lines to print.
QStringList describe(const SoakResult& result, const SoakOptions& options);

} // namespace linvera::soak
