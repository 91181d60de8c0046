#include "ui/form_main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "about/program_launcher.h"
#include "about/registry.h"
#include "app/form_main.h"
#include "app/key_codes.h"
#include "app/texts.h"
#include "ui/imported_records_window.h"
#include "ui/lamp_widget.h"
#include "ui/view_window_widget.h"

namespace vorlan {
namespace {

// Each widget follows its control, with itself as the connection's context: a widget that goes
// takes its connections with it.
QPushButton* Button(Control& control, const char* name, const std::function<void()>& onClick,
                    QWidget* parent) {
  auto* button = new QPushButton(control.Text(), parent);
  button->setObjectName(name);
  const auto follow = [button, &control] {
    button->setEnabled(control.Enabled());
    button->setText(control.Text());
  };
  QObject::connect(&control, &Control::Changed, button, follow);
  follow();
  QObject::connect(button, &QPushButton::clicked, button, [onClick] { onClick(); });
  return button;
}

// Whatever changes the field's text (typing, pasting, a screen reader or an on-screen keyboard
// through the accessibility interface) reaches the model.
QLineEdit* TextBox(Control& control, const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(control.Text(), parent);
  edit->setObjectName(name);
  const auto follow = [edit, &control] {
    edit->setEnabled(control.Enabled());
    if (edit->text() != control.Text()) edit->setText(control.Text());
  };
  QObject::connect(&control, &Control::Changed, edit, follow);
  follow();
  QObject::connect(edit, &QLineEdit::textChanged, edit,
                   [&control](const QString& text) { control.SetText(text); });
  return edit;
}

QComboBox* DeviceIdBox(ComboBox& model, const std::function<void()>& onClick, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName("cbDeviceID");
  box->setEditable(true);
  // Enter does not add the typed text: the list is the model's.
  box->setInsertPolicy(QComboBox::NoInsert);
  const auto followText = [box, &model] {
    box->setEnabled(model.Enabled());
    if (box->currentText() != model.Text()) box->setEditText(model.Text());
  };
  const auto followList = [box, &model] {
    // Filling an empty list selects its first item; the text stays the model's.
    const QSignalBlocker block(box);
    box->clear();
    box->addItems(model.List());
    box->setEditText(model.Text());
  };
  QObject::connect(&model, &Control::Changed, box, followText);
  QObject::connect(&model, &ComboBox::ListChanged, box, followList);
  followList();
  followText();
  QObject::connect(box, &QComboBox::editTextChanged, box,
                   [&model](const QString& text) { model.SetText(text); });
  QObject::connect(box, &QComboBox::activated, box, [box, &model, onClick](int) {
    model.SetText(box->currentText());
    onClick();
  });
  return box;
}

QLabel* LabelFor(const QString& text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  return label;
}

QCheckBox* CheckBox(Control& control, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(control.Text(), parent);
  box->setObjectName(name);
  const auto follow = [box, &control] {
    box->setEnabled(control.Enabled());
    const bool checked = control.Value() == 1;
    if (box->isChecked() != checked) {
      const QSignalBlocker block(box);
      box->setChecked(checked);
    }
  };
  QObject::connect(&control, &Control::Changed, box, follow);
  follow();
  QObject::connect(box, &QCheckBox::toggled, box,
                   [&control](bool checked) { control.SetValue(checked ? 1 : 0); });
  return box;
}

}  // namespace

FormMainWindow::FormMainWindow(FormMain& form, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent),
      m_form(form),
      m_dialogs(dialogs),
      m_registry(CreateSystemRegistry()),
      m_launcher(std::make_unique<QtProgramLauncher>()),
      m_aboutServices{*m_registry, *m_launcher, dialogs} {
  setObjectName("FormMain");
  setWindowTitle(text::kTitle);
  BuildMenus();
  setCentralWidget(BuildControls());
  BuildStatusBar();
  // No smaller than where every caption is whole.
  setMinimumSize(sizeHint());

  m_output = new ViewWindowWidget(
      m_form.FormOutput, [this] { m_form.FormOutput_Unload(); }, true);
  m_output->setObjectName("FormOutput");
  m_display = new ViewWindowWidget(m_form.FormDisplay, [this] { m_form.FormDisplay_Unload(); });
  m_display->setObjectName("FormDisplay");

  QObject::connect(&m_form, &FormMain::AboutRequested, this, [this] { ShowAbout(); });
  QObject::connect(&m_form, &FormMain::UnloadAbout, this, [this] {
    if (m_about) m_about->close();
  });
  QObject::connect(&m_form, &FormMain::RecordsImported, this,
                   [this](const std::shared_ptr<ImportedRecords>& table) {
                     auto* window = new ImportedRecordsWindow(
                         table,
                         [this](const std::shared_ptr<const ImportedRecords>& rows) {
                           m_form.ExportImported(rows);
                         },
                         m_dialogs, this);
                     // Each further one a step down and right of the one before, not over it.
                     if (m_imported) window->move(m_imported->pos() + QPoint(32, 32));
                     window->show();
                     m_imported = window;
                   });
  QObject::connect(&m_form, &FormMain::ProgramEnded, this, [this] {
    m_output->hide();
    m_display->hide();
    for (ImportedRecordsWindow* window : findChildren<ImportedRecordsWindow*>()) window->close();
    QApplication::quit();
  });
}

FormMainWindow::~FormMainWindow() {
  delete m_about;
  delete m_output;
  delete m_display;
}

void FormMainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName("mnuFile");
  QAction* import = file->addAction(QStringLiteral("&Import"));
  import->setObjectName("mnuImport");
  connect(import, &QAction::triggered, this, [this] { m_form.mnuImport_Click(); });
  QAction* exportCsv = file->addAction(QStringLiteral("&Export..."));
  exportCsv->setObjectName("mnuExport");
  connect(exportCsv, &QAction::triggered, this, [this] { m_form.mnuExport_Click(); });
  QAction* trace = file->addAction(QStringLiteral("&Trace Traffic to Files"));
  trace->setObjectName("mnuTrace");
  trace->setCheckable(true);
  trace->setChecked(m_form.TraceOn());
  trace->setToolTip(QStringLiteral("Every frame out and in, with its time, beside the log files"));
  connect(trace, &QAction::triggered, this, [this](bool on) { m_form.mnuTrace_Click(on); });
  connect(&m_form, &FormMain::TraceChanged, trace, &QAction::setChecked);
  file->addSeparator()->setObjectName("mnuFileBorder");
  QAction* exit = file->addAction(QStringLiteral("&Exit"));
  exit->setObjectName("mnuExit");
  connect(exit, &QAction::triggered, this, [this] { m_form.mnuExit_Click(); });
  menuBar()->addMenu(QStringLiteral("E&dit"))->setObjectName("mnuEdit");
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName("mnuHelp");
  QAction* about = help->addAction(QStringLiteral("&About"));
  about->setObjectName("mnuHelpAbout");
  connect(about, &QAction::triggered, this, [this] { m_form.mnuHelpAbout_Click(); });
}

QWidget* FormMainWindow::BuildControls() {
  auto* central = new QWidget(this);
  auto* columns = new QHBoxLayout(central);

  // PBX-Connection Configuration.
  auto* frame3 = new QGroupBox(QStringLiteral("PBX-Connection Configuration"), central);
  frame3->setObjectName("Frame3");
  auto* config = new QGridLayout(frame3);
  QLineEdit* host = TextBox(m_form.txtHost, "txtHost", frame3);
  config->addWidget(LabelFor(QStringLiteral("Host:"), host, frame3), 0, 0);
  config->addWidget(host, 0, 1);
  QComboBox* deviceId = DeviceIdBox(
      m_form.cbDeviceID, [this] { m_form.cbDeviceID_Click(); }, frame3);
  config->addWidget(LabelFor(QStringLiteral("Device ID:"), deviceId, frame3), 1, 0);
  config->addWidget(deviceId, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button(
      m_form.CmdConnect, "CmdConnect", [this] { m_form.CmdConnect_Click(); }, frame3));
  buttons->itemAt(0)->widget()->setToolTip(QStringLiteral("Attempt PBX Connection.."));
  buttons->addWidget(Button(
      m_form.CmdDisconnect, "CmdDisconnect", [this] { m_form.CmdDisconnect_Click(); }, frame3));
  buttons->addWidget(Button(
      m_form.CmdDnld, "CmdDnld", [this] { m_form.CmdDnld_Click(); }, frame3));
  buttons->addWidget(Button(
      m_form.CmdStop, "CmdStop", [this] { m_form.CmdStop_Click(); }, frame3));
  buttons->addWidget(Button(
      m_form.cmdquit, "cmdquit", [this] { m_form.cmdquit_Click(); }, frame3));
  config->addLayout(buttons, 2, 0, 1, 2);

  // Connection-Status with its three lamps.
  auto* frame1 = new QGroupBox(QStringLiteral("Connection-Status"), central);
  frame1->setObjectName("Frame1");
  auto* lamps = new QGridLayout(frame1);
  const auto addLamp = [&](int row, const QString& label, Lamp& lamp, const char* name) {
    lamps->addWidget(new QLabel(label, frame1), row, 0);
    auto* widget = new LampWidget(lamp, frame1);
    widget->setObjectName(name);
    lamps->addWidget(widget, row, 1);
  };
  addLamp(0, QStringLiteral("Connected:"), m_form.LinkLamp, "Connected");
  addLamp(1, QStringLiteral("Tx:"), m_form.TxLamp, "TxLED");
  addLamp(2, QStringLiteral("Rx:"), m_form.RxLamp, "RxLED");
  lamps->setRowStretch(3, 1);

  // Display.
  auto* frame2 = new QGroupBox(QStringLiteral("Display"), central);
  frame2->setObjectName("Frame2");
  auto* display = new QGridLayout(frame2);
  display->addWidget(CheckBox(m_form.chkDisp, "chkDisp", frame2), 0, 0, 1, 2);
  display->addWidget(CheckBox(m_form.chkRaw, "chkRaw", frame2), 1, 0, 1, 2);
  auto* cls = new QToolButton(frame2);
  cls->setObjectName("CmdCls");
  cls->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
  cls->setAccessibleName(QStringLiteral("Clear RAW Data view"));
  cls->setToolTip(QStringLiteral("Clear RAW Data view"));
  connect(cls, &QToolButton::clicked, this, [this] { m_form.CmdCls_Click(); });
  display->addWidget(cls, 2, 0);
  display->addWidget(new QLabel(QStringLiteral("Clear RAW Data view"), frame2), 2, 1);
  auto* command1 = new QPushButton(QStringLiteral("Command1"), frame2);
  command1->setObjectName("Command1");
  connect(command1, &QPushButton::clicked, this, [this] { m_form.Command1_Click(); });
  display->addWidget(command1, 3, 0);
  display->addWidget(new QLabel(QStringLiteral("Clean-up Empty Log Files"), frame2), 3, 1);
  QLineEdit* maxTime = TextBox(m_form.TxtMaxTime, "TxtMaxTime", frame2);
  maxTime->installEventFilter(this);
  QLabel* maxLabel =
      LabelFor(QStringLiteral("Generate ERROR if call exceeds value (seconds)"), maxTime, frame2);
  maxLabel->setObjectName("LblMaxTime");
  maxLabel->setWordWrap(true);
  display->addWidget(maxLabel, 4, 0, 1, 2);
  display->addWidget(maxTime, 5, 0, 1, 2);

  auto* frame4 = new QGroupBox(QStringLiteral("Frame4"), central);
  frame4->setObjectName("Frame4");
  auto* line = new QFrame(frame4);
  line->setObjectName("Line1");
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  (new QVBoxLayout(frame4))->addWidget(line);

  auto* left = new QVBoxLayout;
  left->addWidget(frame3);
  left->addWidget(frame4);
  auto* middle = new QVBoxLayout;
  middle->addWidget(frame1);
  columns->addLayout(left, 3);
  columns->addLayout(middle, 1);
  columns->addWidget(frame2, 3);
  return central;
}

void FormMainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar");
  QLabel* panels[3];
  for (int i = 0; i < 3; ++i) {
    panels[i] = new QLabel(bar);
    panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
    panels[i]->setFrameShape(QFrame::Panel);
    panels[i]->setFrameShadow(QFrame::Sunken);
    panels[i]->setMinimumWidth(i == 2 ? 110 : 180);
    bar->addWidget(panels[i], i == 2 ? 0 : 1);
  }
  const auto follow = [panels, this](int index) {
    panels[index - 1]->setText(m_form.StatusBar.Panel(index));
  };
  connect(&m_form.StatusBar, &StatusBarPanels::Changed, bar, follow);
  for (int i = 1; i <= 3; ++i) follow(i);

  // The time of day, kept by the status bar itself.
  auto* clock = new QLabel(bar);
  clock->setObjectName("PanelTime");
  clock->setFrameShape(QFrame::Panel);
  clock->setFrameShadow(QFrame::Sunken);
  bar->addPermanentWidget(clock);
  auto* tick = new QTimer(clock);
  const auto showTime = [clock] {
    clock->setText(QLocale().toString(QTime::currentTime(), QLocale::ShortFormat));
  };
  connect(tick, &QTimer::timeout, clock, showTime);
  tick->start(1000);
  showTime();
}

void FormMainWindow::Centre() {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return;
  const QRect area = s->geometry();
  const QSize size = frameGeometry().size();
  move(area.x() + (area.width() - size.width()) / 2,
       area.y() + (area.height() - size.height()) / 2);
}

void FormMainWindow::ShowAbout() { vorlan::ShowAbout(m_about, m_aboutServices, this); }

void FormMainWindow::closeEvent(QCloseEvent* event) {
  // The unload cannot be refused, but it may wait for the exchange to close the connection:
  // the window stays until the shut-down sequence has run (ProgramEnded then quits).
  if (!m_form.Unloaded()) m_form.Form_Unload();
  if (m_form.Unloaded()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool FormMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched->objectName() != "TxtMaxTime") return QMainWindow::eventFilter(watched, event);
  // Only a key typed into the box empties it: the release of a key pressed elsewhere (the Tab
  // that brought the focus here, the Enter that closed a dialog) is not the operator's typing.
  const auto physicalKey = [](const QKeyEvent* key) {
    return key->nativeScanCode() != 0 ? int(key->nativeScanCode()) : key->key();
  };
  switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: m_maxTimePresses.clear(); break;
    case QEvent::KeyPress:
      m_maxTimePresses.insert(physicalKey(static_cast<QKeyEvent*>(event)));
      break;
    case QEvent::KeyRelease: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (!key->isAutoRepeat() && m_maxTimePresses.remove(physicalKey(key))) {
        m_form.TxtMaxTime_KeyUp(VirtualKeyCode(key->key(), key->modifiers()));
      }
      break;
    }
    default: break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace vorlan
