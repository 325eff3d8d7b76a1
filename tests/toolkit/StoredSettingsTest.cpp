// The program keeps nothing beyond its run: Qt's file dialog stores nothing of the user's
// browsing in the home folder and reads nothing stored there; and the tests themselves run in
// a home of their own.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdlib>

#include "ApplicationTestSupport.h"
#include "Dialogs.h"
#include "TestHome.h"

namespace penamo {
namespace {

QString Environment(const char* name) {
  return QFile::decodeName(std::getenv(name) != nullptr ? std::getenv(name) : "");
}

// Every file under the test's home and configuration folders.
QStringList FilesAtHome() {
  QStringList files;
  for (const QString& folder : {Environment("HOME"), Environment("XDG_CONFIG_HOME")}) {
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
      files.append(it.next());
  }
  files.removeDuplicates();
  files.sort();
  return files;
}

TEST(TestHome, EveryWindowTestRunsInAHomeOfItsOwn) {
  const QString home = Environment("HOME");
  ASSERT_FALSE(home.isEmpty());
  EXPECT_EQ(home, Environment(test::TTestHome::Variable));
  if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) {
    EXPECT_NE(QDir(home).canonicalPath(), QDir(QFile::decodeName(user->pw_dir)).canonicalPath());
  }
  for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME",
                               "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
    const QString folder = Environment(variable);
    EXPECT_TRUE(folder.startsWith(home + QLatin1Char('/'))) << variable;
    EXPECT_TRUE(QDir(folder).exists()) << variable;
  }
}

class StoredSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Dialog.SetFilter(QStringLiteral("Bitmap(*.bmp)|*.bmp"));
    Dialog.SetDefaultExt(QStringLiteral("bmp"));
  }

  // Runs the dialog; `look` sees the Qt dialog while it is open; then it is confirmed with a
  // name in Folder, or cancelled.
  bool Run(bool confirm, const std::function<void(QFileDialog&)>& look = {}) {
    test::WhenModal([&, confirm](QWidget& modal) {
      auto& qt = static_cast<QFileDialog&>(modal);
      if (look) look(qt);
      if (!confirm) {
        qt.reject();
        return;
      }
      qt.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
          ->setText(Folder.filePath(QStringLiteral("out.bmp")));
      static_cast<QDialog&>(qt).accept();
    });
    return Dialog.Execute();
  }

  QTemporaryDir Folder;
  TSaveDialog Dialog;
};

TEST_F(StoredSettings, ADialogConfirmedOrCancelledLeavesNoFileInTheHomeFolder) {
  const QStringList before = FilesAtHome();
  EXPECT_TRUE(Run(true));
  EXPECT_FALSE(Run(false));
  TOpenDialog open;
  test::WhenModal([](QWidget& modal) { static_cast<QFileDialog&>(modal).reject(); });
  EXPECT_FALSE(open.Execute());
  EXPECT_EQ(FilesAtHome(), before);
  for (const QString& file : FilesAtHome())
    EXPECT_FALSE(file.endsWith(QStringLiteral("QtProject.conf"))) << file.toStdString();
}

TEST_F(StoredSettings, WhatAnEarlierRunLeftInTheHomeFolderIsNotRead) {
  // What Qt's dialog would have stored: the folder last visited, a side-bar place, the folder
  // history and a view.
  QTemporaryDir visited;
  ASSERT_TRUE(visited.isValid());
  const QString url = QUrl::fromLocalFile(visited.path()).toString();
  const QString stored = QDir(Environment("XDG_CONFIG_HOME")).filePath("QtProject.conf");
  {
    QSettings earlier(stored, QSettings::IniFormat);
    earlier.beginGroup(QStringLiteral("FileDialog"));
    earlier.setValue(QStringLiteral("lastVisited"), url);
    earlier.setValue(QStringLiteral("shortcuts"), QStringList{url});
    earlier.setValue(QStringLiteral("history"), QStringList{url});
    earlier.setValue(QStringLiteral("viewMode"), QStringLiteral("List"));
    earlier.setValue(QStringLiteral("qtVersion"), QStringLiteral(QT_VERSION_STR));
  }
  ASSERT_TRUE(QFile::exists(stored));
  QString folder;
  QList<QUrl> places;
  QStringList history;
  QFileDialog::ViewMode view = QFileDialog::List;
  EXPECT_FALSE(Run(false, [&](QFileDialog& qt) {
    folder = qt.directory().absolutePath();
    places = qt.sidebarUrls();
    history = qt.history();
    view = qt.viewMode();
  }));
  QFile::remove(stored);
  EXPECT_NE(folder, visited.path());
  EXPECT_FALSE(places.contains(QUrl::fromLocalFile(visited.path())));
  EXPECT_FALSE(history.contains(visited.path()));
  EXPECT_EQ(view, QFileDialog::Detail) << "Qt's own first view";
}

}  // namespace
}  // namespace penamo
