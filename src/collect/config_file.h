#pragma once

#include <QString>

#include <optional>

#include "collect/options.h"

namespace vorlan::collect {

// The longest configuration file read: an administrator's file is a few lines.
inline constexpr qint64 kConfigFileLimit = qint64(64) * 1024;

// Reads a file of "key = value" lines, the keys being the long options' names without their
// dashes, into `options`; blank lines and lines starting with # are skipped. Nothing when every
// line was taken; otherwise "FILE:LINE: what is wrong" (or "FILE: ..." when it cannot be read).
std::optional<QString> ReadConfigFile(const QString& path, Options& options);

}  // namespace vorlan::collect
