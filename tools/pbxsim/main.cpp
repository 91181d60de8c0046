#include <QCoreApplication>

#include "app.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("pbxsim"));
  return pbxsim::Run(app);
}
