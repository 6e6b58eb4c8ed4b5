#pragma once
#include <QString>

// Where a trapped procedure says it failed: the location its "Application
// Error" box names (project, module date, module, procedure). Users send us
// screenshots of that box, so these texts stay exactly as they are; every
// trapped procedure takes its location from here.
namespace vc::location {

namespace Form1 {
inline const QString Form_Load = QStringLiteral("Vellumcast2/19/2015.Form1.Form_Load");
inline const QString ExtractEmail = QStringLiteral("Vellumcast2/19/2015.Form1.ExtractEmail");
inline const QString SaveAttachments = QStringLiteral("Vellumcast.Form1.SaveAttachments");
inline const QString MailExtractListing = QStringLiteral("Vellumcast12/4/2014.Form1.oChilkat_MailExtractListing");
inline const QString PushButton17_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton17_Click");
inline const QString PushButton13_Click = QStringLiteral("Vellumcast.Form1.PushButton13_Click");
inline const QString PushButton2_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton2_Click");
inline const QString PushButton8_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton8_Click");
inline const QString PushButton7_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton7_Click");
inline const QString PushButton4_Click = QStringLiteral("Vellumcast12/4/2014.Form1.PushButton4_Click");
inline const QString PushButton11_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton11_Click");
inline const QString PushButton14_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton14_Click");
inline const QString PushButton3_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton3_Click");
inline const QString PushButton1_Click = QStringLiteral("Vellumcast12/4/2014.Form1.PushButton1_Click");
inline const QString PushButton6_Click = QStringLiteral("Vellumcast12/4/2014.Form1.PushButton6_Click");
inline const QString PushButton12_Click = QStringLiteral("Vellumcast12/4/2014.Form1.PushButton12_Click");
inline const QString PushButton9_Click = QStringLiteral("Vellumcast12/4/2014.Form1.PushButton9_Click");
inline const QString PushButton15_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton15_Click");
inline const QString PushButton10_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton10_Click");
inline const QString PushButton16_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton16_Click");
inline const QString PushButton18_Click = QStringLiteral("Vellumcast2/19/2015.Form1.PushButton18_Click");
}  // namespace Form1

namespace Form2 {
inline const QString PushButton4_Click = QStringLiteral("Vellumcast.Form2.PushButton4_Click");
inline const QString PushButton11_Click = QStringLiteral("Tarnwick2/19/2015.Form2.PushButton11_Click");
inline const QString PushButton1_Click = QStringLiteral("Tarnwick2/19/2015.Form2.PushButton1_Click");
}  // namespace Form2

namespace Form3 {
inline const QString PushButton4_Click = QStringLiteral("Vellumcast.Form3.PushButton4_Click");
inline const QString PushButton2_Click = QStringLiteral("Tarnwick2/19/2015.Form3.PushButton2_Click");
inline const QString PushButton1_Click = QStringLiteral("Tarnwick2/19/2015.Form3.PushButton1_Click");
inline const QString PushButton5_Click = QStringLiteral("Tarnwick2/19/2015.Form3.PushButton5_Click");
inline const QString PushButton3_Click = QStringLiteral("Tarnwick2/19/2015.Form3.PushButton3_Click");
inline const QString PushButton11_Click = QStringLiteral("Tarnwick2/19/2015.Form3.PushButton11_Click");
}  // namespace Form3

namespace FieldsWindow {
inline const QString startButton_Click = QStringLiteral("Vellumcast.FieldsWindow.startButton_Click");
}  // namespace FieldsWindow

// The clipboard helpers shared by the copy commands.
namespace Main {
inline const QString CopyListViewToClipboardSpace =
    QStringLiteral("Vellumcast2/19/2015.Main.CopyListViewToClipboardSpace");
inline const QString CopyListViewToClipboardTab = QStringLiteral("Vellumcast2/19/2015.Main.CopyListViewToClipboardTab");
inline const QString CopyListViewToClipboardEnter =
    QStringLiteral("Vellumcast2/19/2015.Main.CopyListViewToClipboardEnter");
}  // namespace Main

}  // namespace vc::location
