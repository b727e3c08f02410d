// "履歴": the days of the daily logs, a day's pictures as thumbnails with their times (warnings
// and mail outcomes marked), and one picture large with previous / next (buttons and arrow
// keys) and deleting it. Reads the files only through qv::history; the event list is left as
// it is. Window thread.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/history/History.h"

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace qv::window {

class CHistoryWindow : public QWidget {
    Q_OBJECT
  public:
    explicit CHistoryWindow(qv::history::Folders folders, QWidget* parent = nullptr);

    // Reads the days again (keeping the day shown when it is still there).
    void Reload();
    void SetFolders(qv::history::Folders folders);  // and reloads
    void ShowDay(const std::string& day);
    // Opens the day's index-th entry large (pictures only); false when it has none.
    bool OpenLarge(int index);
    void Step(int delta);  // to the previous (-1) or next (+1) picture that is still there
    void DeleteShown();    // asks first
    void BackToDay();

    // Asks before deleting; the tests answer for the user.
    std::function<bool(const QString& question)> Confirm;

    // State for the tests.
    QListWidget* DayList() const { return days_; }
    QListWidget* PictureList() const { return pictures_; }
    const std::vector<qv::history::Entry>& Entries() const { return entries_; }
    int Shown() const { return shown_; }  // the entry shown large, -1 none
    QLabel* LargePicture() const { return large_; }

  protected:
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void FillPictures();
    void ShowLarge();

    qv::history::Folders folders_;
    std::string day_;
    std::vector<qv::history::Entry> entries_;
    int shown_ = -1;
    QStackedWidget* stack_;
    QListWidget* days_;
    QListWidget* pictures_;
    QLabel* large_;
    QLabel* caption_;
    QPushButton* previous_;
    QPushButton* next_;
};

// The thumbnail line of an entry: "09:00:06 動体検知 警告", "09:00:09 メール失敗 ...".
QString HistoryCaption(const qv::history::Entry& entry);

}  // namespace qv::window
