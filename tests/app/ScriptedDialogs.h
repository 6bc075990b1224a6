#pragma once
// Answers the main window's dialogs and message boxes from a script, and
// records what was asked.

#include <QFont>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

#include "windows/Dialogs_Unit.h"

namespace sigilon::test {

class TScriptedDialogs : public TDialogs {
 public:
  TScriptedDialogs() { SetDialogs(this); }
  ~TScriptedDialogs() override { SetDialogs(nullptr); }

  void ShowMessage(QWidget* /*parent*/, const QString& text) override {
    Messages << text;
    if (OnMessage) OnMessage(text);
  }

  std::optional<QFont> ChooseFont(QWidget* /*parent*/, const QFont& font) override {
    FontPresets.push_back(font);
    return Pop(FontAnswers);
  }

  std::optional<QString> BrowseForFolder(QWidget* /*parent*/, const QString& instruction) override {
    FolderInstructions << instruction;
    if (OnFolder) OnFolder();
    return Pop(FolderAnswers);
  }

  std::optional<QString> SaveFileName(QWidget* /*parent*/, const QString& title,
                                      const QString& defaultName, const QStringList& filters,
                                      const QString& defaultSuffix) override {
    SaveTitle = title;
    SaveDefaultName = defaultName;
    SaveFilters = filters;
    SaveDefaultSuffix = defaultSuffix;
    ++SaveRequests;
    return Pop(SaveAnswers);
  }

  void RunProgram(const QString& commandLine) override { Programs << commandLine; }

  // What was asked.
  QStringList Messages;
  QStringList FolderInstructions;
  std::vector<QFont> FontPresets;
  QString SaveTitle, SaveDefaultName, SaveDefaultSuffix;
  QStringList SaveFilters;
  int SaveRequests = 0;
  QStringList Programs;

  // The answers, first in first out; an empty queue cancels.
  std::deque<std::optional<QString>> FolderAnswers;
  std::deque<std::optional<QFont>> FontAnswers;
  std::deque<std::optional<QString>> SaveAnswers;
  std::function<void(const QString&)> OnMessage;
  std::function<void()> OnFolder;

 private:
  template <typename T>
  static std::optional<T> Pop(std::deque<std::optional<T>>& queue) {
    if (queue.empty()) return std::nullopt;
    std::optional<T> answer = queue.front();
    queue.pop_front();
    return answer;
  }
};

}  // namespace sigilon::test
