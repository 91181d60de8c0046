#pragma once

#include <QString>

#include "platform/program.h"

// The About box's own texts, in one place.
namespace vorlan::about {

// The program's title; also the name under which the settings are kept.
inline const QString& kAppTitle = kProgramName;
inline const QString kCaptionPrefix = QStringLiteral("About ");
inline const QString kTitleSecondLine = QStringLiteral("For Windows 95/98/NT");
inline const QString kVersionPrefix = QStringLiteral("Version ");
// The run of blanks is deliberate: the word-wrapping label breaks inside it, so the features
// start on a line of their own.
inline const QString kDescription =
    QStringLiteral("Station Message Data Record (SMDR) Evaluation and Debugging Tool.") +
    QString(74, QLatin1Char(' ')) + QStringLiteral("Features: TCP/IP Support,  Import,  Export.");
inline const QString kOk = QStringLiteral("OK");
inline const QString kSysInfo = QStringLiteral("&System Info...");
inline const QString kSysInfoUnavailable =
    QStringLiteral("System Information Is Unavailable At This Time");

}  // namespace vorlan::about
