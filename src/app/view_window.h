#pragma once

#include <QObject>
#include <QString>

#include <vector>

#include "format/terminal.h"
#include "platform/desktop.h"

namespace vorlan {

class SettingsStore;

// One of the two view windows (RAW Data, Formatted Output) without its widget: loaded or not,
// shown or hidden, where it stands, its caption and its text box. A closed window is discarded
// with its text and comes back hidden, empty and at its built-in place the next time anything
// uses it.
class ViewWindow : public QObject {
  Q_OBJECT

 public:
  // Where a window stands when nothing was stored, and after it is created anew.
  static constexpr Twips kBuiltIn{2295, 4500, 9015, 4380};
  // Where a window may stand when no screen is known: one 7680 x 4320 screen at 96 DPI. A stored
  // size beyond it would only cost memory (the window's pixels) when a display comes.
  static constexpr Twips kNoDisplay{0, 0, 7680 * 15, 4320 * 15};

  // keyPrefix: "Main" or "Disp", the settings keys' prefix.
  ViewWindow(QString caption, QString keyPrefix);

  bool Loaded() const { return m_loaded; }
  void Load();
  bool Visible() const { return m_loaded && m_visible; }
  void Show();
  void Hide();
  const Twips& Geometry() const { return m_geometry; }
  void Move(const Twips& geometry);  // loads the window
  const QString& Caption() const { return m_caption; }
  void SetCaption(const QString& caption);
  TerminalText& TextBox();  // loads the window

  // Reads the stored place and size; a text that does not read as a number keeps that value's
  // built-in default. A size larger than the screens, or a place from which the window could not
  // be reached on any of `screens` (kNoDisplay when there are none), is corrected here, once,
  // and the corrected values are stored.
  void Restore(SettingsStore& settings, const std::vector<Twips>& screens);
  void SaveGeometry(SettingsStore& settings) const;
  // Discards the window and its text.
  void Discard();

 signals:
  // Loaded, discarded, shown or hidden.
  void StateChanged();
  void GeometryChanged();
  void CaptionChanged();

 private:
  QString m_designCaption;
  QString m_keyPrefix;
  QString m_caption;
  bool m_loaded = false;
  bool m_visible = false;
  Twips m_geometry = kBuiltIn;
  TerminalText m_text;
};

// A window that has no size, is larger than the screens, or lies off every screen, is brought
// back: a size of zero or less takes the built-in size, a larger one is cut to the area the
// screens span, and a window that shows none of itself on any screen is moved onto the first
// one. Screens are given as their available areas, in twips.
Twips FitOnScreens(Twips geometry, const std::vector<Twips>& screens);

}  // namespace vorlan
