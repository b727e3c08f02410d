// The settings dialogs with the real Qt widgets (offscreen platform): values shown, handlers,
// enabling rules, Default buttons, tab keeping and the attachment field corrections.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include "app/dialogs/DialogWidgets.h"
#include "app/dialogs/SpinEdit.h"
#include "platform/text/Text.h"

using namespace qv::dialogs;

namespace {

WarningDialogData DefaultData() {
    WarningDialogData data;
    for (int m = 0; m < kOperatingModes; ++m) data.Warning[m] = DefaultWarningSettings(m);
    return data;
}

// Types text into an edit the way a user does: focus, select all, keys.
void TypeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void ShowActive(QWidget* w) {
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

// Runs action on the next modal dialog that opens (device selection, message boxes).
void OnNextModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

}  // namespace

// ------------------------------------------------------------------ value rules

TEST(DialogRules, AttachmentWidthIsLimitedAndRaisedToAMultipleOfFour) {
    for (auto [in, out] : {std::pair{121, 124}, {10, 32}, {700, 640}, {637, 640}, {120, 120}})
        EXPECT_EQ(RoundAttachmentWidth(in), out) << in;
    for (auto [in, out] : {std::pair{500, 480}, {0, 32}, {101, 101}})
        EXPECT_EQ(LimitAttachmentHeight(in), out) << in;
}

TEST(DialogRules, MailBodyLineBreaks) {
    EXPECT_EQ(MailTextToEdit("警告です<BR>確認してください"), "警告です\r\n確認してください");
    EXPECT_EQ(MailTextFromEdit("警告です\r\n確認してください"), "警告です<BR>確認してください");
    EXPECT_EQ(MailTextFromEdit("a\nb\n"), "a<BR>b<BR>");
    EXPECT_EQ(MailTextFromEdit(MailTextToEdit("<BR><BR>x<BR")), "<BR><BR>x<BR");
}

TEST(DialogRules, FilePickerStartsInTheNamesFolderOrTheProgramFolder) {
    PickerStart s = FilePickerStart("/opt/qv/", "caution1.bmp", "caution1.bmp");
    EXPECT_EQ(s.Folder, "/opt/qv/");
    EXPECT_EQ(s.FileName, "caution1.bmp");
    s = FilePickerStart("/opt/qv/", "/home/u/snd/alarm.wav", "beep.wav");
    EXPECT_EQ(s.Folder, "/home/u/snd");
    EXPECT_EQ(s.FileName, "alarm.wav");
    s = FilePickerStart("/opt/qv/", "", "beep.wav");
    EXPECT_EQ(s.Folder, "/opt/qv/");
    EXPECT_EQ(s.FileName, "beep.wav");
    s = FilePickerStart("/opt/qv/", "/x.wav", "beep.wav");
    EXPECT_EQ(s.Folder, "/");
}

TEST(DialogRules, TextsAreCutAtWholeShiftJisCharacters) {
    EXPECT_EQ(CutToCp932Bytes("abc", 255), "abc");
    EXPECT_EQ(CutToCp932Bytes("ab警告", 4), "ab警");  // 2 + 2 bytes
    EXPECT_EQ(CutToCp932Bytes("ab警告", 5), "ab警");  // never half a character
    EXPECT_EQ(CutToCp932Bytes("ｱｲｳ", 2), "ｱｲ");       // half-width kana: one byte each
    EXPECT_EQ(CutToCp932Bytes(std::string(300, 'x'), 255).size(), 255u);
}

TEST(DialogRules, LineEditsRefuseMoreThanTheFileKeeps) {
    WarningDialogData data = DefaultData();
    CWarningSetDlg dialog(nullptr, data, 0, "/", {});
    ShowActive(&dialog);
    auto* smtp = Control<QLineEdit>(&dialog, 1064);
    TypeInto(smtp, QString(253, QLatin1Char('a')));
    QKeyEvent kanji(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("警"));
    QApplication::sendEvent(smtp, &kanji);  // 255 bytes: taken
    EXPECT_EQ(smtp->text().size(), 254);
    QApplication::sendEvent(smtp, &kanji);  // 257 bytes: refused
    QTest::keyClicks(smtp, "b");            // 256 bytes: refused
    EXPECT_EQ(smtp->text().size(), 254);
    EXPECT_TRUE(smtp->text().endsWith(QStringLiteral("a警")));
    // The number fields keep their own rule.
    TypeInto(Control<QLineEdit>(&dialog, 1074), "45");
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1074)->text(), "45");
    CMailTextDlg mail(nullptr, DefaultWarningSettings(0));
    Control<QPlainTextEdit>(&mail, 1050)->setPlainText(QString(3000, QChar(0x8B66)));  // 警
    mail.accept();
    EXPECT_EQ(qv::text::Utf8ToCp932(mail.Result().MailText).size(), 4094u);
}

// ------------------------------------------------------------------ warning settings

TEST(WarningDialog, TabsKeepChangedValuesAndOkTakesThem) {
    WarningDialogData data = DefaultData();
    CWarningSetDlg dialog(nullptr, data, 0, "/opt/qv/", {});
    ShowActive(&dialog);
    TypeInto(Control<QLineEdit>(&dialog, 1074), "45");
    TypeInto(Control<QLineEdit>(&dialog, 1010), "/snd/siren.wav");
    Control<QCheckBox>(&dialog, 1066)->click();  // mail off for mode 1
    EXPECT_FALSE(Control<QWidget>(&dialog, 1034)->isEnabled());
    Control<QTabBar>(&dialog, 1084)->setCurrentIndex(1);
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1074)->text(), "30");
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1010)->text(), "wellcome.wav");
    TypeInto(Control<QLineEdit>(&dialog, 1076), "7");
    auto* noise = dialog.findChild<QLineEdit*>("checkNoise");
    EXPECT_FALSE(noise->isEnabled());  // the check's values follow its switch
    dialog.findChild<QCheckBox*>("motionCheck")->click();
    ASSERT_TRUE(noise->isEnabled());
    TypeInto(noise, "65");
    Control<QTabBar>(&dialog, 1084)->setCurrentIndex(0);
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("motionCheck")->isChecked());
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1074)->text(), "45");
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1010)->text(), "/snd/siren.wav");
    EXPECT_FALSE(Control<QCheckBox>(&dialog, 1066)->isChecked());
    EXPECT_FALSE(Control<QWidget>(&dialog, 1034)->isEnabled());
    TypeInto(Control<QLineEdit>(&dialog, 1064), "smtp.example.jp");
    Control<QPushButton>(&dialog, 1)->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const WarningDialogData& out = dialog.Result();
    EXPECT_EQ(out.Warning[0].SecTimer, 45);
    EXPECT_EQ(out.Warning[0].SecurityWaveName, "/snd/siren.wav");
    EXPECT_EQ(out.Warning[0].SendMail, 0);
    EXPECT_EQ(out.Warning[1].SecCount, 7);
    EXPECT_EQ(out.Warning[1].MotionCheck, 1);
    EXPECT_EQ(out.Warning[1].MotionCheckNoise, 65);
    EXPECT_EQ(out.Warning[0].MotionCheck, 0);
    EXPECT_EQ(out.Warning[2].SecCount, 4);
    EXPECT_EQ(out.Mail.SmtpServer, "smtp.example.jp");
}

TEST(WarningDialog, CancelDiscardsEverythingIncludingSubDialogEdits) {
    WarningDialogData data = DefaultData();
    data.Mail.PopSmtp = 1;
    data.Mail.PopServer = "pop.old";
    const WarningDialogData before = data;
    bool accepted = true;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CWarningSetDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->RunSubDialog = [](QDialog& sub) {
            Control<QLineEdit>(&sub, 1031)->setText("pop.new");
            sub.accept();
            return static_cast<int>(QDialog::Accepted);
        };
        Control<QPushButton>(dialog, 1036)->click();
        Control<QSlider>(dialog, 1007)->setValue(1234);
        Control<QTabBar>(dialog, 1084)->setCurrentIndex(2);
        Control<QPushButton>(dialog, 2)->click();
    });
    accepted = RunWarningSettingsDialog(nullptr, data, 0, "/opt/qv/", {});
    EXPECT_FALSE(accepted);
    EXPECT_EQ(data.Mail.PopServer, before.Mail.PopServer);
    EXPECT_EQ(data.Warning[0].MotionSensitivity, before.Warning[0].MotionSensitivity);
}

TEST(WarningDialog, SubDialogResultsReachTheShownMode) {
    WarningDialogData data = DefaultData();
    data.Mail.PopSmtp = 1;
    CWarningSetDlg dialog(nullptr, data, 1, "/opt/qv/", {});
    dialog.RunSubDialog = [](QDialog& sub) {
        if (auto* title = Control<QLineEdit>(&sub, 1049)) {
            title->setText("訪問者");
            Control<QPlainTextEdit>(&sub, 1050)->setPlainText("一行目\n二行目");
        }
        if (auto* pic = Control<QLineEdit>(&sub, 1091)) pic->setText("/p/a.bmp");
        if (auto* server = Control<QLineEdit>(&sub, 1031)) server->setText("pop.example.jp");
        sub.accept();
        return static_cast<int>(QDialog::Accepted);
    };
    Control<QCheckBox>(&dialog, 1066)->click();  // mail on for mode 2
    Control<QPushButton>(&dialog, 1034)->click();
    Control<QPushButton>(&dialog, 1090)->click();
    Control<QPushButton>(&dialog, 1036)->click();
    dialog.accept();
    const WarningDialogData& out = dialog.Result();
    EXPECT_EQ(out.Warning[1].MailTitle, "訪問者");
    EXPECT_EQ(out.Warning[1].MailText, "一行目<BR>二行目");
    EXPECT_EQ(out.Warning[1].SecurityPicName1, "/p/a.bmp");
    EXPECT_EQ(out.Warning[1].SecurityPicName2, "caution2.bmp");
    EXPECT_EQ(out.Warning[0].MailTitle, "警告！！");
    EXPECT_EQ(out.Mail.PopServer, "pop.example.jp");
}

TEST(WarningDialog, DefaultResetsModesButKeepsMailTextsAndPopAccount) {
    WarningDialogData data = DefaultData();
    data.Mail.SmtpServer = "smtp.x";
    data.Mail.PopSmtp = 1;
    data.Mail.PopServer = "pop.x";
    data.Pict.Width = 200;
    for (int m = 0; m < kOperatingModes; ++m) {
        data.Warning[m].SecurityPicName1 = "/a.bmp";
        data.Warning[m].SecurityPicName2 = "/b.bmp";
        data.Warning[m].SecurityWaveName = "/c.wav";
        data.Warning[m].MotionSensitivity = 9;
        data.Warning[m].MotionEnable = 0;
        data.Warning[m].MotionCheckNoise = 99;
        data.Warning[m].MailTitle = "題名";
        data.Warning[m].MailText = "本文";
        data.Warning[m].SendPict = 0;
    }
    CWarningSetDlg dialog(nullptr, data, 0, "/opt/qv/", {});
    Control<QPushButton>(&dialog, 3)->click();
    EXPECT_TRUE(Control<QLineEdit>(&dialog, 1064)->text().isEmpty());
    EXPECT_EQ(Control<QSlider>(&dialog, 1007)->value(), 3000);
    dialog.accept();
    const WarningDialogData& out = dialog.Result();
    const char* sounds[] = {"beep.wav", "wellcome.wav", "pinpon.wav"};
    for (int m = 0; m < kOperatingModes; ++m) {
        EXPECT_EQ(out.Warning[m].SecurityPicName1, "caution1.bmp");
        EXPECT_EQ(out.Warning[m].SecurityPicName2, "caution2.bmp");
        EXPECT_EQ(out.Warning[m].SecurityWaveName, sounds[m]);
        EXPECT_EQ(out.Warning[m].MotionSensitivity, DefaultWarningSettings(m).MotionSensitivity);
        EXPECT_EQ(out.Warning[m].MotionEnable, 1);
        EXPECT_EQ(out.Warning[m].MotionCheckNoise, DefaultWarningSettings(m).MotionCheckNoise);
        EXPECT_EQ(out.Warning[m].MailTitle, "題名");
        EXPECT_EQ(out.Warning[m].MailText, "本文");
        EXPECT_EQ(out.Warning[m].SendPict, 0);
    }
    EXPECT_EQ(out.Mail.SmtpServer, "");
    EXPECT_EQ(out.Mail.PopSmtp, 0);
    EXPECT_EQ(out.Mail.PopServer, "pop.x");
    EXPECT_EQ(out.Pict.Width, 200);
}

TEST(WarningDialog, SoundPickerStartsFromTheCurrentNameAndFillsTheEdit) {
    CWarningSetDlg dialog(nullptr, DefaultData(), 1, "/opt/qv/", {});
    PickerStart seen;
    dialog.PickSound = [&](const PickerStart& s) {
        seen = s;
        return std::string("/home/u/door.wav");
    };
    Control<QPushButton>(&dialog, 1011)->click();
    EXPECT_EQ(seen.Folder, "/opt/qv/");
    EXPECT_EQ(seen.FileName, "wellcome.wav");
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1010)->text(), "/home/u/door.wav");
    dialog.PickSound = [](const PickerStart&) { return std::string(); };  // Cancel
    Control<QPushButton>(&dialog, 1011)->click();
    dialog.accept();
    EXPECT_EQ(dialog.Result().Warning[1].SecurityWaveName, "/home/u/door.wav");
}

// ------------------------------------------------------------------ attachment picture

class PictDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = std::make_unique<CPictSetDlg>(nullptr, PictSettings{});
        ShowActive(dialog.get());
        width = Control<QLineEdit>(dialog.get(), 1032);
        height = Control<QLineEdit>(dialog.get(), 1045);
    }
    // Types into a field and moves the focus away from it.
    void Enter(QLineEdit* edit, const QString& text) {
        TypeInto(edit, text);
        (edit == width ? height : width)->setFocus();
        QApplication::processEvents();
    }
    std::unique_ptr<CPictSetDlg> dialog;
    QLineEdit* width = nullptr;
    QLineEdit* height = nullptr;
};

TEST_F(PictDialog, WidthAndHeightAreCorrectedWhenLeavingTheField) {
    ASSERT_TRUE(width && height);
    Enter(width, "121");
    EXPECT_EQ(width->text(), "124");
    EXPECT_EQ(dialog->Result().Width, 124);
    Enter(width, "10");
    EXPECT_EQ(width->text(), "32");
    Enter(width, "700");
    EXPECT_EQ(width->text(), "640");
    EXPECT_EQ(dialog->Result().Width, 640);
    Enter(height, "500");
    EXPECT_EQ(height->text(), "480");
    EXPECT_EQ(dialog->Result().Height, 480);
    Enter(height, "101");
    EXPECT_EQ(height->text(), "101");
}

TEST_F(PictDialog, FormatSwitchSetsQualityAndRange) {
    auto* type = Control<QComboBox>(dialog.get(), 1042);
    auto* quality = Control<QSlider>(dialog.get(), 1043);
    EXPECT_EQ(Control<QLabel>(dialog.get(), 1052)->text(), "7");
    EXPECT_EQ(quality->maximum(), 9);
    type->activated(1);
    EXPECT_EQ(Control<QLabel>(dialog.get(), 1052)->text(), "60");
    EXPECT_EQ(quality->maximum(), 20);
    EXPECT_EQ(dialog->Result().PictQuality, 12);
    quality->setValue(20);
    EXPECT_EQ(Control<QLabel>(dialog.get(), 1052)->text(), "100");
    type->activated(0);
    EXPECT_EQ(dialog->Result().PictQuality, 7);
    EXPECT_EQ(quality->maximum(), 9);
}

// ------------------------------------------------------------------ mail content, POP

TEST(MailTextDialog, EnterInTheBodyMakesANewLine) {
    CMailTextDlg dialog(nullptr, DefaultWarningSettings(1));
    ShowActive(&dialog);
    auto* body = Control<QPlainTextEdit>(&dialog, 1050);
    body->setFocus();
    body->clear();
    QTest::keyClicks(body, "ab");
    QTest::keyClick(body, Qt::Key_Return);
    QTest::keyClicks(body, "cd");
    EXPECT_TRUE(dialog.isVisible());  // Enter did not close the dialog
    dialog.accept();
    EXPECT_EQ(dialog.Result().MailText, "ab<BR>cd");
}

TEST(PopDialog, PasswordIsMaskedAndTextsAreCopiedBack) {
    MailSettings mail;
    mail.Password = "secret";
    CPopSetDlg dialog(nullptr, mail);
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1041)->echoMode(), QLineEdit::Password);
    Control<QLineEdit>(&dialog, 1031)->setText("pop.example.jp");
    Control<QLineEdit>(&dialog, 1040)->setText("taro");
    dialog.accept();
    EXPECT_EQ(dialog.Result().PopServer, "pop.example.jp");
    EXPECT_EQ(dialog.Result().UserID, "taro");
    EXPECT_EQ(dialog.Result().Password, "secret");
}

// ------------------------------------------------------------------ basic settings

TEST(BasicSheet, DialUpEntryIsFoundByPrefixAndTakenOnOk) {
    BasicSettings s;
    s.ConnMode = 1;
    s.DialName = "Office";
    {
        CBasicSetSheet none(nullptr, s, DeviceHooks{}, {});  // no entries: LAN, dial-up off
        EXPECT_TRUE(Control<QRadioButton>(&none, 1080)->isChecked());
        EXPECT_FALSE(Control<QComboBox>(&none, 1082)->isEnabled());
    }
    CBasicSetSheet sheet(nullptr, s, DeviceHooks{}, {"Home DSL", "Office VPN", "Office 2"});
    EXPECT_TRUE(Control<QRadioButton>(&sheet, 1081)->isChecked());
    EXPECT_EQ(Control<QComboBox>(&sheet, 1082)->currentText(), "Office VPN");
    Control<QRadioButton>(&sheet, 1080)->click();
    EXPECT_EQ(s.ConnMode, 0);
    EXPECT_FALSE(Control<QComboBox>(&sheet, 1082)->isEnabled());
    sheet.accept();
    EXPECT_EQ(s.DialName, "Office VPN");
}

TEST(BasicSheet, ControlsChangeTheCopyAtOncePathsOnApply) {
    BasicSettings s;
    std::vector<int> rates;
    DeviceHooks hooks;
    hooks.SetPreviewRate = [&](int fps) { rates.push_back(fps); };
    CBasicSetSheet sheet(nullptr, s, hooks, {});
    auto* page = sheet.Page();
    EXPECT_FALSE(page->Modified());
    EXPECT_EQ(Control<QLabel>(&sheet, 1024)->text(), "75");
    Control<QComboBox>(&sheet, 1083)->activated(5);
    EXPECT_EQ(s.PreviewRate, 5);
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_EQ(rates[0], 30);
    Control<QSlider>(&sheet, 1022)->setValue(4);
    EXPECT_EQ(s.PictureQuality, 4);
    EXPECT_EQ(Control<QLabel>(&sheet, 1024)->text(), "20");
    Control<QCheckBox>(&sheet, 1078)->click();
    Control<QCheckBox>(&sheet, 1079)->click();
    Control<QCheckBox>(&sheet, 1087)->click();
    EXPECT_EQ(s.WakeUpStart, 1);
    EXPECT_EQ(s.WakeUpIcon, 1);
    EXPECT_EQ(s.DetectPreview, 1);
    EXPECT_TRUE(page->Modified());
    Control<QLineEdit>(&sheet, 1020)->setText("/data/detect");
    EXPECT_EQ(s.DetectPath, "");  // not before Apply
    Control<QPushButton>(&sheet, 12321)->click();
    EXPECT_EQ(s.DetectPath, "/data/detect");
}

TEST(BasicSheet, DefaultKeepsTheDeviceAndResetsTheRest) {
    BasicSettings s;
    s.DeviceName = "USB Camera";
    s.PreviewRate = 6;
    s.PictureQuality = 2;
    s.WakeUpIcon = s.WakeUpStart = s.DetectPreview = 1;
    s.TimerPath = "/t";
    s.DetectPath = "/d";
    s.ConnMode = 1;
    s.DialName = "ISP";
    std::vector<int> rates;
    DeviceHooks hooks;
    hooks.SetPreviewRate = [&](int fps) { rates.push_back(fps); };
    CBasicSetSheet sheet(nullptr, s, hooks, {"ISP"});
    Control<QPushButton>(&sheet, 3)->click();
    sheet.accept();
    EXPECT_EQ(s.DeviceName, "USB Camera");
    EXPECT_EQ(s.PreviewRate, 3);
    EXPECT_EQ(rates, std::vector<int>{15});
    EXPECT_EQ(s.PictureQuality, 15);
    EXPECT_EQ(s.WakeUpIcon + s.WakeUpStart + s.DetectPreview + s.ConnMode, 0);
    EXPECT_EQ(s.TimerPath, "");
    EXPECT_EQ(s.DetectPath, "");
    EXPECT_EQ(Control<QComboBox>(&sheet, 1083)->currentIndex(), 3);
    EXPECT_TRUE(Control<QRadioButton>(&sheet, 1080)->isChecked());
    // The list still shows its first entry, which OK takes.
    EXPECT_EQ(s.DialName, "ISP");
}

TEST(BasicSheet, DeviceSelectionRestartsTheChosenDevice) {
    BasicSettings s;
    s.DeviceName = "Cam B";
    std::vector<std::string> restarted;
    unsigned long caps = 0;
    DeviceHooks hooks;
    hooks.DeviceNames = [] { return std::vector<std::string>{"Cam A", "", "Cam B", "Cam C"}; };
    hooks.RestartDevice = [&](const std::string& name) {
        restarted.push_back(name);
        caps = 8;  // the new device has a source dialog only
        return true;
    };
    hooks.DialogCaps = [&] { return caps; };
    CBasicSetSheet sheet(nullptr, s, hooks, {});
    EXPECT_FALSE(Control<QPushButton>(&sheet, 1003)->isEnabled());
    OnNextModal([](QWidget* modal) {
        auto* list = Control<QComboBox>(modal, 1171);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count(), 3);  // the empty name is not listed
        EXPECT_EQ(list->currentText(), "Cam B");
        list->setCurrentIndex(2);
        static_cast<QDialog*>(modal)->accept();
    });
    Control<QPushButton>(&sheet, 1002)->click();
    EXPECT_EQ(restarted, std::vector<std::string>{"Cam C"});
    EXPECT_EQ(s.DeviceName, "Cam C");
    EXPECT_TRUE(Control<QPushButton>(&sheet, 1003)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&sheet, 1004)->isEnabled());
}

TEST(BasicSheet, FailedDeviceStartIsReportedAndTheNameStillTaken) {
    BasicSettings s;
    s.DeviceName = "gone";
    DeviceHooks hooks;
    hooks.DeviceNames = [] { return std::vector<std::string>{"Cam A"}; };
    hooks.RestartDevice = [](const std::string&) { return false; };
    CBasicSetSheet sheet(nullptr, s, hooks, {});
    QString message;
    OnNextModal([&](QWidget* modal) {
        // No entry equals "gone": the first is selected.
        EXPECT_EQ(Control<QComboBox>(modal, 1171)->currentText(), "Cam A");
        static_cast<QDialog*>(modal)->accept();
        OnNextModal([&](QWidget* box) {
            if (auto* mb = qobject_cast<QMessageBox*>(box)) message = mb->text();
            static_cast<QDialog*>(box)->accept();
        });
    });
    Control<QPushButton>(&sheet, 1002)->click();
    EXPECT_EQ(message, "選択できませんでした");
    EXPECT_EQ(s.DeviceName, "Cam A");
}

TEST(BasicSheet, DriverDialogButtonsOpenTheDriversDialogs) {
    BasicSettings s;
    std::vector<unsigned long> opened;
    DeviceHooks hooks;
    hooks.DialogCaps = [] { return 10ul; };
    hooks.OpenDriverDialog = [&](unsigned long d) { opened.push_back(d); };
    CBasicSetSheet sheet(nullptr, s, hooks, {});
    Control<QPushButton>(&sheet, 1003)->click();
    Control<QPushButton>(&sheet, 1004)->click();
    EXPECT_EQ(opened, (std::vector<unsigned long>{8, 2}));
}

// The schedule page turns rows into rule texts; a row nobody touched keeps its text.
TEST(BasicSheet, ScheduleRowsBecomeRuleTexts) {
    auto row = [](QWidget* sheet, int field) {  // a control of the first row
        return sheet->findChild<QWidget*>(QStringLiteral("idc%1").arg(2100 + field));
    };
    auto check = [&](QWidget* sheet, int field, bool on) {
        static_cast<QCheckBox*>(row(sheet, field))->setChecked(on);
    };
    auto time = [&](QWidget* sheet, int field, int h, int m) {
        static_cast<QTimeEdit*>(row(sheet, field))->setTime(QTime(h, m));
    };
    struct Case {
        const char* stored;
        std::function<void(QWidget*)> edit;
        const char* saved;
    } cases[] = {
        {"", [&](QWidget* d) { check(d, 0, true); }, "12345 08:00-18:00 mode1"},
        {"67 22:00-06:00 off", [](QWidget*) {}, "67 22:00-06:00 off"},
        {"not a rule", [](QWidget*) {}, "not a rule"},
        {"67 22:00-06:00 off",
         [&](QWidget* d) {
             time(d, 9, 7, 30);
             static_cast<QComboBox*>(row(d, 10))->setCurrentIndex(2);
             check(d, 3, true);
         },
         "367 22:00-07:30 mode3"},
        {"12345 08:00-18:00 mode1", [&](QWidget* d) { check(d, 0, false); }, ""},
        {"1 08:00-18:00 mode2", [&](QWidget* d) { check(d, 1, false); }, ""},  // no day left
        {"", [&](QWidget* d) { check(d, 0, true), time(d, 9, 8, 0); }, ""},    // empty range
    };
    for (const Case& c : cases) {
        BasicSettings basic;
        LongRunSettings longRun;
        longRun.Schedule.Rule1 = c.stored;
        longRun.Schedule.Rule2 = "5 09:00-10:00 mode2";
        CBasicSetSheet sheet(nullptr, basic, DeviceHooks{}, {}, &longRun);
        c.edit(&sheet);
        sheet.accept();
        EXPECT_TRUE(sheet.LongRunApplied());
        EXPECT_EQ(longRun.Schedule.Rule1, c.saved) << c.stored;
        EXPECT_EQ(longRun.Schedule.Rule2, "5 09:00-10:00 mode2");
    }
}

TEST(BasicSheet, LongRunGroupsCancelKeepsAllAndAnUntouchedPasswordKeepsItsHash) {
    BasicSettings basic;
    LongRunSettings longRun;
    longRun.Web.Password = "old-hash";
    const LongRunSettings before = longRun;
    WebInfo web;
    web.Fingerprint = "AB:CD";
    web.Addresses = {"https://192.0.2.7:8443/"};
    web.HashPassword = [](const std::string& p) { return "hash(" + p + ")"; };
    auto edit = [](QWidget* sheet) {
        Control<SpinEdit>(sheet, 2000)->Edit()->setText("99999");  // past the schema's range
        Control<QLineEdit>(sheet, 2014)->setText("https://ntfy.sh/room");
        Control<QCheckBox>(sheet, 2013)->setChecked(true);
        Control<QCheckBox>(sheet, 2090)->setChecked(true);
    };
    {
        CBasicSetSheet sheet(nullptr, basic, DeviceHooks{}, {}, &longRun, web);
        EXPECT_EQ(Control<QLineEdit>(&sheet, 2024)->text(), "AB:CD");
        EXPECT_EQ(Control<QLineEdit>(&sheet, 2025)->text(), "https://192.0.2.7:8443/");
        edit(&sheet);
        sheet.reject();
        EXPECT_FALSE(sheet.LongRunApplied());
    }
    EXPECT_EQ(longRun, before);
    for (const char* typed : {"", "s3cret"}) {
        CBasicSetSheet sheet(nullptr, basic, DeviceHooks{}, {}, &longRun, web);
        edit(&sheet);
        Control<QLineEdit>(&sheet, 2023)->setText(typed);
        sheet.accept();
        EXPECT_EQ(longRun.Web.Password, *typed ? "hash(s3cret)" : "old-hash");
    }
    EXPECT_EQ(longRun.Retention.PictureDays, KeyOf(&RetentionSettings::PictureDays).Max);
    EXPECT_EQ(longRun.Hooks.PushUrl, "https://ntfy.sh/room");
    EXPECT_EQ(longRun.Hooks.WebhookPicture, 1);
    EXPECT_EQ(longRun.Schedule.Enable, 1);
}
