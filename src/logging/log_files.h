#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QString>
#include <QTime>

// Where log files live and what they are called. A log file is named after the local minute in
// which it was opened, "MMDDhhmm.log", in the folder "logs" beside the program (the collector
// may be given another folder).
namespace vorlan::logging {

// "MMDDhhmm.log" from the clock's date and time as given (the caller passes local time).
QString LogFileName(const QDateTime& local);

// The folder "logs" beside the program.
QString LogsFolder(const QString& programFolder);

// Where a program in `programFolder` keeps its log files unless told otherwise: "logs" beside
// it. An installed program (under /usr) cannot or should not write there; its log files go in
// the user's data folder instead, such as ~/.local/share/VORLAN/logs.
QString DefaultLogsFolder(const QString& programFolder);

// Makes the logs folder (its parents too) when missing; the folder itself readable by its owner
// only, as call records are private.
bool MakeLogsFolder(const QString& logsFolder);

// logsFolder + "/" + LogFileName(local).
QString LogFilePath(const QString& logsFolder, const QDateTime& local);

// The hourly switch happens only in the second hh:00:00.
bool IsSwitchSecond(const QTime& time);

// Names have no year: whether `file`, named after the current minute, is one of an earlier
// year's. It is when it was last modified more than a day ago: this year's file of this minute
// cannot be older than a minute, and the day allows for a file server's clock. Judged by the
// clock that stamped the file, not by the program's (which tests run in virtual time).
bool IsEarlierYearsFile(const QFileInfo& file);

// The whole decision of one switch tick: it is the switch second and the file for this minute
// does not exist yet, or is an earlier year's. The timer ticks four times in that second; the
// file opened by the first tick keeps the other three (and a Connect in that same second) from
// switching again.
bool IsSwitchDue(const QString& logsFolder, const QDateTime& local);

// When an earlier year's file holds the name `path`, moves it aside
// to "<name>.<year>" (".2", ".3" ... after that when taken), which no "*.log" listing matches,
// so that this year's records get a file of their own and the earlier ones stay as they were.
// False, with `failure` set, when it cannot be moved.
bool MoveAsideEarlierYearsFile(const QString& path, QString* failure);

}  // namespace vorlan::logging
