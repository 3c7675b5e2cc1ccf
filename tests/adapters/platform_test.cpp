#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/posix/posix_processes.hpp"
#include "platform/posix/program_folder.hpp"
#include "platform/qt/qt_clock.hpp"

namespace pasotune {
namespace {

namespace fs = std::filesystem;

QString RunProbe(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished(5000);
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

TEST(Platform, DecimalSeparatorFollowsTheUsersLocale) {
  const struct {
    const char* locale;
    const char* separator;
  } cases[] = {
      {"C", "."}, {"en_US.UTF-8", "."}, {"de_DE.UTF-8", ","}, {"es_ES.UTF-8", ","}, {"fr_FR", ","}};
  for (const auto& c : cases) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LC_NUMERIC"));
    env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(c.locale));
    EXPECT_EQ(RunProbe(QStringLiteral(PROBE_PATH), {"--decimal"}, env).toStdString(), c.separator)
        << c.locale;
  }
}

TEST(Platform, ExecutableFolderIsWhereTheFileIsNotHowItWasCalled) {
  QTemporaryDir dir;
  const fs::path link = fs::path(dir.path().toStdString()) / "probe-link";
  fs::create_symlink(PROBE_PATH, link);
  const QString folder = RunProbe(QString::fromStdString(link.string()), {"--folder"},
                                  QProcessEnvironment::systemEnvironment());
  EXPECT_EQ(folder.toStdString(), fs::path(PROBE_PATH).parent_path().string());
}

TEST(Platform, ProgramEndFlushesAndExitsAtOnce) {
  QProcess p;
  p.start(QStringLiteral(PROBE_PATH), {"--end"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_EQ(p.readAllStandardOutput().toStdString(), "flushed too");
}

TEST(Platform, FolderAndImageNameFromTheExeLink) {
  const struct {
    const char* link;
    bool deleted;
    const char* folder;
    const char* image;
  } cases[] = {
      {"/opt/pasotune/Velkor.exe", false, "/opt/pasotune", "Velkor.exe"},
      {"/Velkor.exe", false, "/", "Velkor.exe"},
      {"/opt/pasotune/Velkor.exe (deleted)", true, "/opt/pasotune", "Velkor.exe"},
      {"/opt/pasotune/Velkor.exe (deleted)", false, "/opt/pasotune", "Velkor.exe (deleted)"},
      {"/opt/x/Velkor.exe (deleted) (deleted)", true, "/opt/x", "Velkor.exe (deleted)"},
      {"/opt/my dir/Velkor.exe", false, "/opt/my dir", "Velkor.exe"},
      {"/opt/pasotune/ (deleted)", false, "/opt/pasotune", " (deleted)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FolderOfExecutable(c.link), c.folder) << c.link;
    EXPECT_EQ(ImageNameOf(c.link, c.deleted), c.image) << c.link << " " << c.deleted;
  }
}

TEST(Platform, ClockGivesSecondsOfTheDay) {
  QtClock clock;
  const double a = clock.SecondsSinceMidnight();
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const double b = clock.SecondsSinceMidnight();
  EXPECT_GE(a, 0);
  EXPECT_LT(b, 86400);
  if (b > a) {  // unless midnight fell in between
    EXPECT_GE(b - a, 0.1);
    EXPECT_LT(b - a, 2.0);
  }
}

}  // namespace
}  // namespace pasotune
