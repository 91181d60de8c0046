#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "support/form_fixture.h"
#include "ui/form_main_window.h"

namespace vorlan {

// The main window built in main.cpp's order: the widgets first, then the start-up fills the
// models.
class WindowTest : public FormTest {
 protected:
  void SetUp() override {
    m_window = std::make_unique<FormMainWindow>(m_form, m_dialogs);
    m_form.Form_Load();
    m_window->show();
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = m_window->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  std::unique_ptr<FormMainWindow> m_window;
};

}  // namespace vorlan
