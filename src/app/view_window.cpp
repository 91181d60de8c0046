#include "app/view_window.h"

#include <algorithm>
#include <cmath>

#include "app/texts.h"
#include "platform/settings_store.h"

namespace vorlan {
namespace {

// The stored text as a single-precision number, or the fallback when it is not one.
float ReadTwips(const SettingsStore& settings, const QString& key, float fallback) {
  const QString text = settings.GetSetting(setting::kApp, setting::kSettings, key, int(fallback));
  bool ok = false;
  const float value = text.trimmed().toFloat(&ok);
  return ok && std::isfinite(value) ? value : fallback;
}

}  // namespace

ViewWindow::ViewWindow(QString caption, QString keyPrefix)
    : m_designCaption(caption), m_keyPrefix(std::move(keyPrefix)), m_caption(std::move(caption)) {}

void ViewWindow::Load() {
  if (m_loaded) return;
  m_loaded = true;
  m_visible = false;
  emit StateChanged();
}

void ViewWindow::Show() {
  Load();
  if (m_visible) return;
  m_visible = true;
  emit StateChanged();
}

void ViewWindow::Hide() {
  if (!m_loaded || !m_visible) return;
  m_visible = false;
  emit StateChanged();
}

void ViewWindow::Move(const Twips& geometry) {
  Load();
  if (geometry == m_geometry) return;
  m_geometry = geometry;
  emit GeometryChanged();
}

void ViewWindow::SetCaption(const QString& caption) {
  Load();
  if (caption == m_caption) return;
  m_caption = caption;
  emit CaptionChanged();
}

TerminalText& ViewWindow::TextBox() {
  Load();
  return m_text;
}

void ViewWindow::Restore(SettingsStore& settings, const std::vector<Twips>& screens) {
  Twips g;
  g.left = ReadTwips(settings, m_keyPrefix + "Left", kBuiltIn.left);
  g.top = ReadTwips(settings, m_keyPrefix + "Top", kBuiltIn.top);
  g.width = ReadTwips(settings, m_keyPrefix + "Width", kBuiltIn.width);
  g.height = ReadTwips(settings, m_keyPrefix + "Height", kBuiltIn.height);
  const Twips fitted = FitOnScreens(g, screens.empty() ? std::vector{kNoDisplay} : screens);
  Move(fitted);
  if (fitted != g) SaveGeometry(settings);
}

void ViewWindow::SaveGeometry(SettingsStore& settings) const {
  const auto save = [&](const char* name, float value) {
    settings.SaveSetting(setting::kApp, setting::kSettings, m_keyPrefix + name,
                         QString::number(value, 'g', 7));
  };
  save("Left", m_geometry.left);
  save("Top", m_geometry.top);
  save("Width", m_geometry.width);
  save("Height", m_geometry.height);
}

void ViewWindow::Discard() {
  if (!m_loaded) return;
  m_loaded = false;
  m_visible = false;
  m_geometry = kBuiltIn;
  m_caption = m_designCaption;
  m_text.SetText({});
  emit StateChanged();
  emit GeometryChanged();
  emit CaptionChanged();
}

Twips FitOnScreens(Twips g, const std::vector<Twips>& screens) {
  if (!(g.width > 0)) g.width = ViewWindow::kBuiltIn.width;
  if (!(g.height > 0)) g.height = ViewWindow::kBuiltIn.height;
  if (screens.empty()) return g;
  // The size is limited by the area all screens span together, so a window may still stretch
  // over two of them.
  Twips span = screens.front();
  for (const Twips& s : screens) {
    const float right = std::max(span.left + span.width, s.left + s.width);
    const float bottom = std::max(span.top + span.height, s.top + s.height);
    span.left = std::min(span.left, s.left);
    span.top = std::min(span.top, s.top);
    span.width = right - span.left;
    span.height = bottom - span.top;
  }
  g.width = std::min(g.width, span.width);
  g.height = std::min(g.height, span.height);
  // A sliver is not enough to grab the window by: ask for a corner of some size to be visible.
  constexpr float kGrip = 600;  // twips, about 40 pixels
  for (const Twips& s : screens) {
    const float right = std::min(g.left + g.width, s.left + s.width);
    const float bottom = std::min(g.top + g.height, s.top + s.height);
    if (right - std::max(g.left, s.left) >= std::min(kGrip, g.width) &&
        bottom - std::max(g.top, s.top) >= std::min(kGrip, g.height)) {
      return g;
    }
  }
  const Twips& s = screens.front();
  g.width = std::min(g.width, s.width);
  g.height = std::min(g.height, s.height);
  g.left = std::clamp(g.left, s.left, s.left + s.width - g.width);
  g.top = std::clamp(g.top, s.top, s.top + s.height - g.height);
  return g;
}

}  // namespace vorlan
