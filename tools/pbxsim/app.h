#pragma once

class QCoreApplication;

namespace pbxsim {

// Reads the options, fills the queue, serves until Ctrl-C; returns the exit code.
int Run(QCoreApplication& app);

}  // namespace pbxsim
