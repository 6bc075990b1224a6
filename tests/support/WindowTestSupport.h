#pragma once
// For the window tests: dialogs answered from a script, a scratch start
// directory, and whole-file reads and writes with Qt paths.

#include <QApplication>
#include <QColor>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "windows/Dialogs.h"

namespace sigilon::test {

// Answers the windows' dialogs and message boxes from a script, and records
// what was asked instead of showing anything.
class TScriptedDialogs : public TDialogs {
 public:
  TScriptedDialogs() { SetDialogs(this); }
  ~TScriptedDialogs() override { SetDialogs(nullptr); }

  void ShowMessage(QWidget*, const QString& text) override { Messages << text; }
  void RunProgram(const QString& commandLine) override { Programs << commandLine; }
  int RunDialog(QDialog& dialog) override {
    if (DialogScripts.empty()) return QDialog::Rejected;
    const auto script = std::move(DialogScripts.front());
    DialogScripts.pop_front();
    return script(dialog);
  }
  std::optional<QColor> ChooseColor(QWidget*, const QColor& color) override {
    ColorPresets.push_back(color);
    return Pop(ColorAnswers);
  }
  std::optional<QString> BrowseForFolder(QWidget*, const QString& instruction,
                                         const QString& startFolder) override {
    FolderInstructions << instruction;
    FolderStarts << startFolder;
    return Pop(FolderAnswers);
  }
  std::optional<QString> SaveFileName(QWidget*, const QString& title, const QString& folder,
                                      const QString& defaultName, const QStringList& filters,
                                      const QString& defaultSuffix) override {
    Saves.push_back(QStringList{title, defaultName, defaultSuffix} + filters);
    SaveFolders << folder;
    return Pop(SaveAnswers);
  }

  // What was asked; each save request is title, default name, default suffix,
  // then the filters.
  QStringList Messages, Programs, FolderInstructions, FolderStarts, SaveFolders;
  std::vector<QColor> ColorPresets;
  std::vector<QStringList> Saves;

  // The answers, first in first out; an empty queue cancels. A dialog script
  // works the dialog's controls and returns its result code.
  std::deque<std::optional<QString>> FolderAnswers, SaveAnswers;
  std::deque<std::optional<QColor>> ColorAnswers;
  std::deque<std::function<int(QDialog&)>> DialogScripts;

 private:
  template <typename T>
  static std::optional<T> Pop(std::deque<std::optional<T>>& queue) {
    if (queue.empty()) return std::nullopt;
    std::optional<T> answer;
    answer.swap(queue.front());
    queue.pop_front();
    return answer;
  }
};

// A fresh empty start directory (where the configuration file and the manual
// are looked for); the old one comes back afterwards. Its name has capitals,
// so that a lower-case spelling of it is another text for the same directory.
// The program seems to lie in its subdirectory "prefix/bin/" (not created),
// so that files beside the test programs do not count.
class ScratchStartDirectory {
 public:
  ScratchStartDirectory()
      : dir_(QDir::tempPath() + QStringLiteral("/StartDir-XXXXXX")), saved_(StartDirectory()) {
    SetStartDirectoryForTesting(dir_.path().toStdString() + "/");
    SetProgramDirectoryForTesting(dir_.path().toStdString() + "/prefix/bin/");
  }
  ~ScratchStartDirectory() {
    SetStartDirectoryForTesting(saved_);
    SetProgramDirectoryForTesting(std::nullopt);
  }
  bool IsValid() const { return dir_.isValid(); }
  QString Path() const { return dir_.path(); }
  QString FilePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_;
  std::string saved_;
};

// How many windows of type T are still alive once pending deletions ran.
template <typename T>
int WindowsAlive() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  int count = 0;
  for (QWidget* widget : QApplication::allWidgets()) count += qobject_cast<T*>(widget) != nullptr;
  return count;
}

inline QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return file.readAll();
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

}  // namespace sigilon::test
