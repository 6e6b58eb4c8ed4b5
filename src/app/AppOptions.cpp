#include "app/AppOptions.h"

#include "core/Product.h"

namespace vc {

cmdline::Program appProgram(AppOptions &options)
{
    AppOptions *o = &options;
    QList<cmdline::Option> rows = connectionOptions(o->window.connection);
    rows += {
        {QStringLiteral("settings"), QStringLiteral("FILE"),
         QStringLiteral("keep every entry in FILE (an INI file, created with\nmode 0600) instead of the "
                        "per-user settings file;\na link, or a file or folder of another user, is refused"),
         QStringLiteral("~/.config/vellumcast-demo.ini"),
         [o](const QString &v) {
             if (v.isEmpty())
                 return QStringLiteral("option --settings needs a value");
             o->settingsFile = v;
             return QString();
         }},
        {QStringLiteral("password-file"), QStringLiteral("FILE"),
         QStringLiteral("the password of this run is the first line of FILE; it is\nkept in memory only"),
         QStringLiteral("~/.imap-password"),
         [o](const QString &v) {
             if (v.isEmpty())
                 return QStringLiteral("option --password-file needs a value");
             o->window.passwordFile = v;
             return QString();
         }},
        {QStringLiteral("no-online-check"), QString(), QStringLiteral("skip the connectivity check at start-up"),
         QString(),
         [o](const QString &) {
             o->window.onlineCheck = false;
             return QString();
         }},
    };
    return {
        QStringLiteral("vellumcast"),
        QStringLiteral("[OPTION]..."),
        QStringLiteral("Signs in to an IMAP mail account over TLS, reads every message of one folder\n"
                       "and lists the text that a rule extracts from each message, in a window.\n"
                       "Every entry is kept in the per-user settings file %1.ini (section [%2]).")
            .arg(product::kSettingsApplication, product::kSettingsSection),
        rows,
        {{QStringLiteral("Exit status"),
          {QStringLiteral("0    the window was closed"), QStringLiteral("2    the command line was refused")}}},
        {{QStringLiteral("Against a self-hosted server with its own CA"),
          QStringLiteral("vellumcast --server mail.example.org --ca-file /etc/ssl/example-ca.pem")},
         {QStringLiteral("A demonstration that leaves the user's own settings alone"),
          QStringLiteral("vellumcast --settings ~/.config/vellumcast-demo.ini --no-online-check")}},
    };
}

}  // namespace vc
