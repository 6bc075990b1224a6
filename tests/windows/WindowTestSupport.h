#pragma once
// Helpers shared by the window tests.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

#include "settings/PlatformDependence_Unit.h"
#include "windows/Dialogs_Unit.h"

// Records what the windows ask of the dialog seam instead of showing anything.
class FakeDialogs : public sigilon::TDialogs {
 public:
  FakeDialogs() { sigilon::SetDialogs(this); }
  ~FakeDialogs() override { sigilon::SetDialogs(nullptr); }
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  void RunProgram(const QString& commandLine) override { programs << commandLine; }

  QStringList messages;
  QStringList programs;
};

// A fresh empty start directory (where the configuration file and the manual
// are looked for) for one test function; the old one comes back afterwards.
class ScratchStartDirectory {
 public:
  ScratchStartDirectory() : saved_(sigilon::StartDirectory()) {
    sigilon::SetStartDirectoryForTesting(dir_.path().toStdString() + "/");
  }
  ~ScratchStartDirectory() { sigilon::SetStartDirectoryForTesting(saved_); }
  bool IsValid() const { return dir_.isValid(); }
  QString Path() const { return dir_.path(); }
  QString FilePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
  std::string saved_;
};
