#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VORLAN"));
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("VORLAN"));
  window.resize(640, 400);
  window.show();
  return QApplication::exec();
}
