#pragma once
#include <QString>

#include <cstdint>
#include <optional>

namespace vc {

// The per-user settings store: application "Quillmark", section "Vellumcast",
// then the value name. Every value is a text. The file (INI, user scope) holds
// what the user typed (never a password: see PasswordKeeper), so it is created
// with mode 0600 and kept so; each write reaches the file at once. A file that
// is a symbolic link, belongs to another user or lies in a folder that others
// may change is neither read nor written (see refusal()).
namespace settings {

// How a stored text is read back.
enum class Kind { Text, Int16, Bool };

// One stored value: its name in the store, the text that stands for it while
// it is absent, and how it is read.
struct Key {
    QString name;
    QString defaultText;
    Kind kind;
};

// Every value the program stores. Nothing outside this table names a value
// or its default.
namespace key {
inline const Key User{QStringLiteral("User"), QString(), Kind::Text};
// The password as older versions kept it, in plain text. It is read once at
// start-up, moved to the keychain and erased; nothing writes it any more.
inline const Key Password{QStringLiteral("Password"), QString(), Kind::Text};
inline const Key StayConnected{QStringLiteral("StayConnected"), QStringLiteral("0"), Kind::Int16};
inline const Key AutoConnect{QStringLiteral("AutoConnect"), QStringLiteral("0"), Kind::Int16};
inline const Key Option3{QStringLiteral("Option3"), QStringLiteral("1"), Kind::Bool};
inline const Key Option5{QStringLiteral("Option5"), QStringLiteral("0"), Kind::Bool};
inline const Key Option6{QStringLiteral("Option6"), QStringLiteral("0"), Kind::Bool};
inline const Key Option7{QStringLiteral("Option7"), QStringLiteral("0"), Kind::Bool};
inline const Key Option9{QStringLiteral("Option9"), QStringLiteral("0"), Kind::Bool};
inline const Key Combo1{QStringLiteral("Combo1"), QStringLiteral("0"), Kind::Int16};
// The main window's parameter boxes: the texts of the containing and not
// containing rules and the line numbers.
inline const Key Text1{QStringLiteral("Text1"), QString(), Kind::Text};
inline const Key Text2{QStringLiteral("Text2"), QString(), Kind::Text};
inline const Key Text5{QStringLiteral("Text5"), QString(), Kind::Text};
inline const Key StartWith{QStringLiteral("StartWith"), QString(), Kind::Text};
inline const Key EndWith{QStringLiteral("EndWith"), QString(), Kind::Text};
// The text-set window's list, its items joined by a separator (see Form3).
inline const Key TextSet{QStringLiteral("TextSet"), QString(), Kind::Text};
// The fields window: the template being edited (its JSON, as a template file
// holds it) and the file it was last opened from or saved to.
inline const Key FieldsTemplate{QStringLiteral("FieldsTemplate"), QString(), Kind::Text};
inline const Key FieldsTemplateFile{QStringLiteral("FieldsTemplateFile"), QString(), Kind::Text};
// Attachments: whether their text joins the text every rule and field
// searches, and the name patterns "Save Attachments..." last saved by
// (blank-separated, "*.pdf *.csv").
inline const Key Attachments{QStringLiteral("Attachments"), QStringLiteral("0"), Kind::Bool};
inline const Key AttachmentGlobs{QStringLiteral("AttachmentGlobs"), QStringLiteral("*.pdf"), Kind::Text};
// The folder the folder box chose while no folder option is ticked (empty:
// the ticked option decides).
inline const Key Folder{QStringLiteral("Folder"), QString(), Kind::Text};
// "Only mail since the last run": runs take only the messages above each
// folder's mark.
inline const Key NewOnly{QStringLiteral("NewOnly"), QStringLiteral("False"), Kind::Bool};
// Whether runs keep decoded messages in the local mail copy and take those
// it has from there instead of fetching them again.
inline const Key MailCache{QStringLiteral("MailCache"), QStringLiteral("True"), Kind::Bool};
// The main window's size, place and maximised state (Qt's saved geometry in
// base64), and the folder of the last file saved from the results.
inline const Key WindowGeometry{QStringLiteral("WindowGeometry"), QString(), Kind::Text};
inline const Key SaveFolder{QStringLiteral("SaveFolder"), QString(), Kind::Text};
// How accounts chose to sign in: "name=password;name=oauth2" (names in lower
// case); an account not listed signs in the way its address suggests.
inline const Key SignInMethods{QStringLiteral("SignInMethods"), QString(), Kind::Text};
// The client IDs of the applications registered for OAuth 2.0 sign-in, and
// the client secret of a Google desktop client (Google does not treat it as a
// secret). Tokens are never stored here.
inline const Key OAuthClientIdMicrosoft{QStringLiteral("OAuthClientIdMicrosoft"), QString(), Kind::Text};
inline const Key OAuthClientIdGoogle{QStringLiteral("OAuthClientIdGoogle"), QString(), Kind::Text};
inline const Key OAuthClientSecretGoogle{QStringLiteral("OAuthClientSecretGoogle"), QString(), Kind::Text};
inline const Key OAuthClientIdCustom{QStringLiteral("OAuthClientIdCustom"), QString(), Kind::Text};
}  // namespace key

void save(const Key &key, const QString &text);
// Erases the value from the file (nothing is written when it is absent).
void remove(const Key &key);
void saveNumber(const Key &key, int number);  // decimal text
void saveFlag(const Key &key, bool flag);     // "True" / "False"

// The stored text, or the key's default while the value is absent.
QString readText(const Key &key);
// The stored text as a 16-bit integer; throws AppError 13 (not a number) or 6
// (out of range), as any conversion of an entry does.
int16_t readInt16(const Key &key);
// The stored text as a Boolean ("True"/"False" in any case, or a number where
// non-zero is true); throws AppError 13 otherwise.
bool readBool(const Key &key);

// Makes the store use `path` (an INI file, created 0600 on the first write)
// instead of the per-user file. Call before the first read or write; an empty
// path goes back to the per-user file.
void useFile(const QString &path);
// The file behind the store.
QString filePath();
// Why the file is not used, for the user; nothing while it is. A refused file
// is left alone: values then live in memory until the program ends.
std::optional<QString> refusal();
// How many values have been written since the program started.
int writeCount();

}  // namespace settings
}  // namespace vc
