#pragma once

#include <QString>
#include <QStringList>

#include "exchange.h"
#include "record_generator.h"

namespace pbxsim {

constexpr quint16 kDefaultPort = 60010;

struct Options {
  QString address = QStringLiteral("127.0.0.1");
  quint16 port = kDefaultPort;
  quint32 seed = 0;
  GeneratorSettings generator;
  int records = 20;
  int newEveryMs = 0;  // a further generated call every so often; 0: none
  QString recordFile;  // replay these records instead of generating them
  QString transcriptPath;
  Behaviour behaviour;
  bool refuse = false;
  bool quiet = false;
};

struct ParsedOptions {
  enum class Outcome { Run, Help, Error };
  Outcome outcome = Outcome::Error;
  Options options;
  QString text;  // the help text or the error
};

// Reads the command line (the program name first). Defaults that depend on the moment, the
// seed and the first call's start, are taken from the arguments given here.
ParsedOptions ParseOptions(const QStringList& arguments, quint32 defaultSeed,
                           const QDateTime& defaultStart);

}  // namespace pbxsim
