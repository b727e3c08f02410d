// The main window's menus: the tray icon's and the window's own. Every action carries its
// command id in data().
#pragma once

class QMenu;

namespace qv::window {

enum MenuId : int {
    kTrayMenu = 104,
    kWindowMenu = 105,
};

enum Command : int {
    CmdBasicSettings = 1000,
    CmdWarningSettings = 1001,
    CmdToTray = 1017,
    CmdShowViewer = 1029,
    CmdTuning = 1030,
    CmdHistory = 1031,
    CmdRestore = 32772,
    CmdExit = 32773,
    CmdStartStop = 32774,
    CmdMode1 = 32776,
    CmdMode2 = 32777,
    CmdMode3 = 32778,
    CmdHelp = 57670,
};

// The tray menu: 開始・停止 | モード１-３ | 基本設定, 警告設定, 感度調整, 履歴 | ヘルプ | 元に戻す,
// 終了.
void BuildTrayMenu(QMenu& menu);
// The window menu: 基本設定, 警告設定, 感度調整, 履歴 | モード切替 ▶ モード１-３ | ヘルプ |
// アイコン化,
// 終了.
void BuildContextMenu(QMenu& menu);

}  // namespace qv::window
