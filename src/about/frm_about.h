#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

namespace vorlan {

class Dialogs;
class ProgramLauncher;
class Registry;

// What "&System Info..." needs from outside. All three must outlive the box.
struct AboutServices {
  Registry& registry;
  ProgramLauncher& launcher;
  Dialogs& dialogs;
};

// "Version " and the three numbers joined by ".", each in decimal.
QString VersionText(int major, int minor, int revision);

// The About box. Modeless, and deleted when closed, so that opening it again loads it afresh.
// Controls carry their design names as object names.
class frmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit frmAbout(const AboutServices& services, QWidget* parent = nullptr);

  QLabel* lblTitle = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblDescription = nullptr;
  QLabel* Image1 = nullptr;
  QFrame* Line1 = nullptr;
  QPushButton* cmdOK = nullptr;
  QPushButton* cmdSysInfo = nullptr;

  void cmdOK_Click();
  void cmdSysInfo_Click();

 protected:
  // Esc presses the cancel button, which is cmdOK.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void Form_Load();

  AboutServices m_services;
};

// Shows the box held in `box`, loading it first when it is not loaded, and brings it forward.
frmAbout* ShowAbout(QPointer<frmAbout>& box, const AboutServices& services,
                    QWidget* parent = nullptr);

}  // namespace vorlan
