#pragma once

#include <QString>

namespace vorlan {

// The program's name: the title of its windows and of its About box, and the application name
// under which its settings are kept.
inline const QString kProgramName = QStringLiteral("VORLAN");

}  // namespace vorlan
