#include "app/window/Menus.h"

#include <QAction>
#include <QMenu>

namespace qv::window {
namespace {

void Item(QMenu& menu, const char* text, int command) {
    QAction* action = menu.addAction(QString::fromUtf8(text));
    action->setData(command);
}

}  // namespace

void BuildTrayMenu(QMenu& menu) {
    Item(menu, "開始・停止", CmdStartStop);
    menu.addSeparator();
    Item(menu, "モード１", CmdMode1);
    Item(menu, "モード２", CmdMode2);
    Item(menu, "モード３", CmdMode3);
    menu.addSeparator();
    Item(menu, "基本設定", CmdBasicSettings);
    Item(menu, "警告設定", CmdWarningSettings);
    Item(menu, "感度調整", CmdTuning);
    Item(menu, "履歴", CmdHistory);
    menu.addSeparator();
    Item(menu, "ヘルプ", CmdHelp);
    menu.addSeparator();
    Item(menu, "元に戻す", CmdRestore);
    Item(menu, "終了", CmdExit);
}

void BuildContextMenu(QMenu& menu) {
    Item(menu, "基本設定", CmdBasicSettings);
    Item(menu, "警告設定", CmdWarningSettings);
    Item(menu, "感度調整", CmdTuning);
    Item(menu, "履歴", CmdHistory);
    menu.addSeparator();
    QMenu* modes = menu.addMenu(QStringLiteral("モード切替"));
    Item(*modes, "モード１", CmdMode1);
    Item(*modes, "モード２", CmdMode2);
    Item(*modes, "モード３", CmdMode3);
    menu.addSeparator();
    Item(menu, "ヘルプ", CmdHelp);
    menu.addSeparator();
    Item(menu, "アイコン化", CmdToTray);
    Item(menu, "終了", CmdExit);
}

}  // namespace qv::window
