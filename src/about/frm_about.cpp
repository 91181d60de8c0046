#include "about/frm_about.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "about/about_texts.h"
#include "about/sys_info.h"

namespace vorlan {

namespace {

constexpr int kIconSize = 16;
constexpr int kTextWidth = 300;

// A small telephone handset on a blue tile.
QPixmap ApplicationIcon() {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x4e, 0x9a));
  painter.drawRoundedRect(QRectF(0, 0, kIconSize, kIconSize), 3, 3);
  QPainterPath handset;
  handset.moveTo(3, 6);
  handset.cubicTo(3, 2, 13, 2, 13, 6);
  handset.lineTo(10.5, 7);
  handset.lineTo(10, 5.2);
  handset.cubicTo(8.7, 4.6, 7.3, 4.6, 6, 5.2);
  handset.lineTo(5.5, 7);
  handset.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(handset);
  painter.drawRect(QRectF(5, 8.5, 6, 4.5));
  return pixmap;
}

QLabel* NewLabel(const QString& name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QPushButton* NewButton(const QString& name, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  return button;
}

}  // namespace

QString VersionText(int major, int minor, int revision) {
  return about::kVersionPrefix + QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

frmAbout::frmAbout(const AboutServices& services, QWidget* parent)
    : QDialog(parent), m_services(services) {
  setObjectName(QStringLiteral("frmAbout"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  BuildControls();
  Form_Load();
}

void frmAbout::BuildControls() {
  Image1 = NewLabel(QStringLiteral("Image1"), this);
  Image1->setPixmap(ApplicationIcon());
  Image1->setFixedSize(kIconSize, kIconSize);

  lblTitle = NewLabel(QStringLiteral("lblTitle"), this);
  QFont titleFont = lblTitle->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
  lblTitle->setFont(titleFont);

  lblVersion = NewLabel(QStringLiteral("lblVersion"), this);

  lblDescription = NewLabel(QStringLiteral("lblDescription"), this);
  lblDescription->setWordWrap(true);
  lblDescription->setFixedWidth(kTextWidth);
  lblDescription->setText(about::kDescription);

  // The etched separator: a grey and a white line.
  Line1 = new QFrame(this);
  Line1->setObjectName(QStringLiteral("Line1"));
  Line1->setFrameShape(QFrame::HLine);
  Line1->setFrameShadow(QFrame::Sunken);

  cmdOK = NewButton(QStringLiteral("cmdOK"), about::kOk, this);
  cmdOK->setDefault(true);
  cmdSysInfo = NewButton(QStringLiteral("cmdSysInfo"), about::kSysInfo, this);
  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

  auto* layout = new QGridLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setHorizontalSpacing(16);
  layout->addWidget(Image1, 0, 0, Qt::AlignTop);
  layout->addWidget(lblTitle, 0, 1);
  layout->addWidget(lblVersion, 1, 1);
  layout->addWidget(lblDescription, 2, 1);
  layout->addWidget(Line1, 3, 0, 1, 2);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdSysInfo);
  layout->addLayout(buttons, 4, 1, Qt::AlignRight);
}

void frmAbout::Form_Load() {
  setWindowTitle(about::kCaptionPrefix + about::kAppTitle);
  lblVersion->setText(
      VersionText(VORLAN_VERSION_MAJOR, VORLAN_VERSION_MINOR, VORLAN_VERSION_PATCH));
  lblTitle->setText(about::kAppTitle + QStringLiteral("\r\n") + about::kTitleSecondLine);

  adjustSize();
  const QScreen* screen =
      parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
}

void frmAbout::cmdOK_Click() { close(); }

void frmAbout::cmdSysInfo_Click() {
  StartSysInfo(m_services.registry, m_services.launcher, m_services.dialogs);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    cmdOK->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

frmAbout* ShowAbout(QPointer<frmAbout>& box, const AboutServices& services, QWidget* parent) {
  if (!box) box = new frmAbout(services, parent);
  box->show();
  box->raise();
  box->activateWindow();
  return box;
}

}  // namespace vorlan
