#pragma once
#include <QString>
#include <QStringList>

// Fixed values of the product that more than one part of the program shows.
namespace vc::product {
inline const QString kAppTitle = QStringLiteral("Vellumcast");
inline const QString kSettingsOrganisation = QStringLiteral("Quillmark");
inline const QString kSettingsApplication = QStringLiteral("Quillmark");
inline const QString kSettingsSection = QStringLiteral("Vellumcast");
inline const QString kSupportAddress = QStringLiteral("support@quillmark.example");
inline const QString kContactPage = QStringLiteral("https://quillmark.example/contact");
// The provider's IMAP service (SSL on port 993) and its account domains.
inline const QString kImapHost = QStringLiteral("imap-mail.outlook.com");
inline constexpr int kImapPort = 993;
inline const QStringList kAccountSuffixes = {QStringLiteral("@hotmail.com"), QStringLiteral("@live.com"),
                                             QStringLiteral("@msn.com")};
}  // namespace vc::product
