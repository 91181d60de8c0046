#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "collect/folder_lock.h"

using vorlan::collect::FolderLock;

// A second collector on the folder is refused, naming the folder and the holder; once the
// holder ends, the folder can be taken again.
TEST(FolderLock, OneCollectorPerFolder) {
  QTemporaryDir folder;
  std::optional<FolderLock> first(std::in_place);
  ASSERT_EQ(first->Take(folder.path()), std::nullopt);
  FolderLock second;
  const std::optional<QString> refused = second.Take(folder.path());
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->contains(folder.path())) << refused->toStdString();
  EXPECT_TRUE(refused->contains(
      QStringLiteral("held by another collector (process %1 on ").arg(QCoreApplication::applicationPid())))
      << refused->toStdString();
  first.reset();
  EXPECT_EQ(second.Take(folder.path()), std::nullopt);
}
