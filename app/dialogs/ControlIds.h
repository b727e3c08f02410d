// The settings dialogs' control ids, the one place their numbers are written. A control is
// named "idc<id>" (DialogWidgets.h: Named, Control). The numbers only need to differ within one
// dialog, so dialogs reuse them.
#pragma once

namespace qv::dialogs {

enum class ControlId : int {
    // The dialog buttons.
    Ok = 1,
    Cancel = 2,
    Default = 3,  // the basic page's and the warning dialog's
    Help = 4,
    SubDefault = 1067,  // the attachment and mail content dialogs'
    Apply = 12321,

    // デバイス選択
    DeviceList = 1171,

    // 基本設定
    SelectDevice = 1002,
    VideoSource = 1003,
    VideoFormat = 1004,
    TimerPath = 1018,
    TimerBrowse = 1019,
    DetectPath = 1020,
    DetectBrowse = 1021,
    PictureQuality = 1022,
    PictureQualityLabel = 1024,
    WakeUpStart = 1078,
    WakeUpIcon = 1079,
    Lan = 1080,
    DialUp = 1081,
    DialList = 1082,
    PreviewRate = 1083,
    DetectPreview = 1087,

    // ＰＯＰ設定
    PopServer = 1031,
    PopUser = 1040,
    PopPassword = 1041,

    // 添付画像設定 (a number field's edit and its spin have an id each)
    PictWidth = 1032,
    PictAspect = 1036,
    PictType = 1042,
    PictQuality = 1043,
    PictWidthSpin = 1044,
    PictHeight = 1045,
    PictHeightSpin = 1046,
    PictColorNum = 1047,
    PictColQuality = 1048,
    PictQualityLabel = 1052,
    PictColorNumLabel = 1061,
    PictColQualityLabel = 1063,

    // 警告メール内容設定
    MailTitle = 1049,
    MailBody = 1050,
    MailSendPict = 1051,

    // 警告画像設定
    CautionPic1 = 1091,
    CautionBrowse1 = 1092,
    CautionPic2 = 1093,
    CautionBrowse2 = 1094,

    // 警告設定
    TimerInterval = 1005,
    TimerIntervalSpin = 1006,
    Sensitivity = 1007,
    SecurityPic = 1008,
    SecurityWave = 1009,
    WaveName = 1010,
    WaveBrowse = 1011,
    TimerEnable = 1012,
    SensitivityLabel = 1013,
    TimerLabel = 1014,
    TimerUnitLabel = 1015,
    WaveLabel = 1016,
    HoldMinutes = 1018,
    HoldMinutesSpin = 1019,
    MailIntervalLabel = 1021,
    MailInterval = 1022,
    MailIntervalSpin = 1023,
    MailIntervalUnitLabel = 1024,
    MailAddress = 1033,
    MailContent = 1034,
    PopSmtp = 1035,
    PopSettings = 1036,
    PictSettings = 1037,
    SmtpServer = 1064,
    SendMail = 1066,
    SendAddress = 1068,
    SecTimer = 1074,
    SecTimerSpin = 1075,
    SecCount = 1076,
    SecCountSpin = 1077,
    ModeTabs = 1084,
    CautionPictures = 1090,
    WaveLoop = 1093,

    // スケジュール; the rows follow ScheduleControl's numbering
    ScheduleEnable = 2090,

    // 保存・通知・Web
    PictureDays = 2000,
    PictureMegabytes = 2001,
    LogDays = 2002,
    MinFreeMegabytes = 2003,
    HookCommand = 2010,
    HookCommandEvents = 2011,
    WebhookUrl = 2012,
    WebhookPicture = 2013,
    PushUrl = 2014,
    PushToken = 2015,
    CameraLostSeconds = 2016,
    CameraLostMail = 2017,
    WebEnable = 2020,
    WebPort = 2021,
    WebTls = 2022,
    WebPassword = 2023,
    WebFingerprint = 2024,
    WebAddresses = 2025,
};

// The controls of schedule row r (0..9): 2100 + 16 r + the field.
enum class ScheduleField : int { Use = 0, FirstDay = 1, Start = 8, End = 9, Action = 10 };
constexpr ControlId ScheduleControl(int row, ScheduleField field, int day = 0) {
    return static_cast<ControlId>(2100 + 16 * row + static_cast<int>(field) + day);
}

}  // namespace qv::dialogs
