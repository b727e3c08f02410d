// Why a mail did not go out, in words a user can act on: the one mapping from the session's
// failure codes to reasons, used by the test send and by the warning mail alike.
#pragma once

#include <string>

// The step of the session that failed.
enum class MailStep { Pop, Connect, Send };

// The reason for the user (UTF-8): what failed, then the server's reply ("サーバーの応答：...")
// or a local detail ("詳細：...") on their own lines. reply is MailSession::LastReply().
std::string MailFailureReason(MailStep step, int code, const std::string& reply);

// What a server said, safe to show: printable ASCII and line breaks, other bytes as "?".
std::string ShownReply(const std::string& reply);

// A job that ran out of time or was ended by the program's exit.
inline constexpr char kMailReasonCutShort[] =
    "時間内に送信を終えられなかったため中止しました（サーバーの応答が遅すぎるか、終了中です）。";
inline constexpr char kMailReasonDialUp[] = "ダイアルアップ接続を確立できません。";
inline constexpr char kMailReasonLineBreak[] = "設定に改行が含まれています。";
