#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "hex.h"

namespace vorlan {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  QTemporaryDir m_dir;
  QString m_path = m_dir.filePath("VORLAN/VORLAN.ini");
  SettingsStore m_store{m_path};
};

TEST_F(SettingsStoreTest, AbsentValuesGiveTheCallersDefault) {
  EXPECT_EQ(m_store.GetSetting("VORLAN", "Properties", "RemoteHost", "0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(m_store.GetSetting("VORLAN", "Settings", "MainLeft", 2295), "2295");
  m_store.SaveSetting("VORLAN", "Properties", "DeviceID", "2");
  // Another key, section or application still has no value.
  EXPECT_EQ(m_store.GetSetting("VORLAN", "Properties", "MTime", "120"), "120");
  EXPECT_EQ(m_store.GetSetting("VORLAN", "Settings", "DeviceID", "0"), "0");
  EXPECT_EQ(m_store.GetSetting("OTHER", "Properties", "DeviceID", "0"), "0");
}

TEST_F(SettingsStoreTest, SectionAndKeyNamesMatchWithoutRegardToCase) {
  m_store.SaveSetting("VORLAN", "Properties", "MTime", "300");
  EXPECT_EQ(m_store.GetSetting("VORLAN", "properties", "MTime", "120"), "300");
  EXPECT_EQ(m_store.GetSetting("vorlan", "PROPERTIES", "mtime", "120"), "300");
  m_store.SaveSetting("VORLAN", "properties", "MTIME", "45");
  EXPECT_EQ(m_store.GetSetting("VORLAN", "Properties", "MTime", "120"), "45");
}

TEST_F(SettingsStoreTest, AnyTextComesBackAsItWasStored) {
  const QString texts[] = {
      "",  // a value: not replaced by the default
      " ",
      "  leading and trailing  ",
      "a, b, c",
      "\"quoted\"",
      "@Invalid()",
      "@Variant(x)",
      "semi;colon = equals # hash",
      "back\\slash/and/slash",
      "line\nbreak\r\nand\ttab",
      "true",
      "1e3",
      QString::fromUtf8("Zürich \u00FF \u20AC"),
      QString(5000, 'x'),
  };
  for (const QString& text : texts) {
    m_store.SaveSetting("VORLAN", "Properties", "RemoteHost", text);
    EXPECT_EQ(m_store.GetSetting("VORLAN", "Properties", "RemoteHost", "0.0.0.0"), text);
  }
}

TEST_F(SettingsStoreTest, ValuesOutliveTheStoreObjectAndReplaceEarlierOnes) {
  m_store.SaveSetting("VORLAN", "Settings", "MainWidth", "9015");
  m_store.SaveSetting("VORLAN", "Settings", "MainWidth", "12000");
  EXPECT_TRUE(QFile::exists(m_path));
  SettingsStore nextRun(m_path);
  EXPECT_EQ(nextRun.GetSetting("VORLAN", "Settings", "MainWidth", 9015), "12000");
}

TEST_F(SettingsStoreTest, NamesWithSeparatorsStayDistinct) {
  m_store.SaveSetting("VORLAN", "a/b", "c", "1");
  m_store.SaveSetting("VORLAN", "a", "b/c", "2");
  EXPECT_EQ(m_store.GetSetting("VORLAN", "a/b", "c", "-"), "1");
  EXPECT_EQ(m_store.GetSetting("VORLAN", "a", "b/c", "-"), "2");
}

// The collector runs the window's handlers, which read and save settings, without touching the
// desktop tool's file.
TEST(SettingsStoreInMemory, KeepsValuesCaseInsensitivelyAndWritesNoFile) {
  SettingsStore store = SettingsStore::InMemory();
  EXPECT_EQ(store.GetSetting("VORLAN", "Properties", "RemoteHost", "0.0.0.0"), "0.0.0.0");
  EXPECT_TRUE(store.SaveSetting("VORLAN", "Properties", "RemoteHost", "10.0.0.9"));
  EXPECT_EQ(store.GetSetting("vorlan", "PROPERTIES", "remotehost", "-"), "10.0.0.9");
  EXPECT_TRUE(store.FilePath().isEmpty());
  EXPECT_EQ(SettingsStore::InMemory().GetSetting("VORLAN", "Properties", "RemoteHost", "-"), "-")
      << "each store starts empty";
}

TEST(SettingsStoreLocation, DefaultsToTheUsersConfigurationFolder) {
  const QString path = SettingsStore::DefaultFilePath();
  EXPECT_TRUE(path.endsWith("VORLAN/VORLAN.ini")) << path.toStdString();
}

}  // namespace
}  // namespace vorlan
