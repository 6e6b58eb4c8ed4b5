#include "output/HelpTexts.h"

#include "core/Product.h"

namespace vc::help {

namespace {

const QString CR = QStringLiteral("\r");
const QString CR2 = QStringLiteral("\r\r");

}  // namespace

QString contactNote()
{
    return QStringLiteral("Questions? Please contact Team Quillmark at ") + product::kContactPage;
}

QString linesByNumberExample()
{
    const QStringList lines = {
        QStringLiteral("If one of the files has this for content:"),
        QString(),
        QStringLiteral("A"),
        QStringLiteral("B"),
        QStringLiteral("C"),
        QStringLiteral("D"),
        QStringLiteral("E"),
        QStringLiteral("F"),
        QStringLiteral("G"),
        QString(),
        QStringLiteral("and your input is: 1,3,4"),
        QString(),
        QStringLiteral("then "),
        QString(),
        QStringLiteral("A"),
        QStringLiteral("C"),
        QStringLiteral("D"),
        QString(),
        QStringLiteral("will be extracted."),
        QString(),
        QStringLiteral("The same lines will be extracted throughout all the files you add to the list."),
    };
    return lines.join(CR);
}

QString betweenHelp()
{
    // The address of the second example is a made-up one of ours.
    const QString address = QStringLiteral("jane.doe@example.org");
    const QString htmlLine = QStringLiteral("<a href=\"http://lists.example.net/unsubscribe.php?remove=") + address
                             + QStringLiteral("\" target=\"_blank\">Unsubscribe from this list</a>");
    return QStringLiteral("If one of the files has this for content:") + CR2
           + QStringLiteral("The rain in spain falls mainly on the plain.") + CR2
           + QStringLiteral("and your input is: ") + CR + QStringLiteral("p") + CR + QStringLiteral("n") + CR2
           + QStringLiteral("then ") + CR2 + QStringLiteral("ai") + CR + QStringLiteral("lai") + CR2
           + QStringLiteral("will be extracted.") + CR2 + QStringLiteral("If one of the files has this for content:")
           + CR2 + htmlLine + CR2 + QStringLiteral("and your input is: ") + CR + QStringLiteral("remove=") + CR
           + QStringLiteral(" target") + CR2 + QStringLiteral("then ") + CR2 + address + CR2
           + QStringLiteral("will be extracted.");
}

QString betweenExample()
{
    return betweenHelp() + CR2;
}

QString textSetHelp()
{
    // Sample verse of our own. Only the lines holding the letter "i" match the
    // sample set ("width" and "misery" both contain it), so the words are chosen
    // to leave exactly three lines without an "i".
    const QString stanza1 = QStringLiteral("The river holds the width of morning,") + CR
                            + QStringLiteral("   a gray road over sand and stone;") + CR
                            + QStringLiteral("The gulls go out without a warning,") + CR
                            + QStringLiteral("   and no one walks the shore alone.") + CR2;
    const QString stanza2 = QStringLiteral("Let misery go down with evening,") + CR
                            + QStringLiteral("   and spin the sorrow into foam;") + CR
                            + QStringLiteral("The lanterns sway above the water") + CR
                            + QStringLiteral("   and light the long road back to home.") + CR2;
    const QString results = QStringLiteral("The river holds the width of morning,") + CR
                            + QStringLiteral("The gulls go out without a warning,") + CR
                            + QStringLiteral("Let misery go down with evening,") + CR
                            + QStringLiteral("and spin the sorrow into foam;") + CR
                            + QStringLiteral("and light the long road back to home.");
    return QStringLiteral("A text set is a set of words or characters.") + CR2
           + QStringLiteral("Add what you want to search for into the set by selecting \"Add Text\"") + CR2
           + QStringLiteral("Sample Execution:") + CR2 + QStringLiteral("Sample File:") + CR2 + stanza1 + stanza2
           + QStringLiteral("-- an old harbour song, author unknown") + CR2 + QStringLiteral("Containing Text:") + CR2
           + QStringLiteral("i") + CR + QStringLiteral("width") + CR + QStringLiteral("misery") + CR2
           + QStringLiteral("Results:") + CR2 + results;
}

}  // namespace vc::help
