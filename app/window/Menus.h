// The main window's menus: 104 in the tray, 105 on the window. Every action carries its
// command id in data().
#pragma once

class QMenu;

namespace qv::window {

enum Command : int {
    CmdBasicSettings = 1000,
    CmdWarningSettings = 1001,
    CmdToTray = 1017,
    CmdShowViewer = 1029,
    CmdRestore = 32772,
    CmdExit = 32773,
    CmdStartStop = 32774,
    CmdMode1 = 32776,
    CmdMode2 = 32777,
    CmdMode3 = 32778,
    CmdHelp = 57670,
};

// Menu 104: 開始・停止 | モード１-３ | 基本設定, 警告設定 | ヘルプ | 元に戻す, 終了.
void BuildTrayMenu(QMenu& menu);
// Menu 105: 基本設定, 警告設定 | モード切替 ▶ モード１-３ | ヘルプ | アイコン化, 終了.
void BuildContextMenu(QMenu& menu);

}  // namespace qv::window
