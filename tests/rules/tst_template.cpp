// Templates: what a template file may say and what it is refused for, and
// what its fields and rows make of messages.
#include "TestMail.h"
#include "rules/Patterns.h"
#include "rules/RecordRows.h"
#include "rules/Template.h"
#include "rules/TemplateFile.h"

#include <QFile>
#include <QTest>
#include <QTimeZone>

using namespace vc;
using namespace vc::records;

Q_DECLARE_METATYPE(vc::records::TemplateSpec)

namespace {

Template compiled(const QByteArray &json)
{
    TemplateCompile c = loadTemplate(json);
    if (!c.ok())
        qFatal("template refused: %s", qPrintable(problemsText(c.problems)));
    return *c.compiled;
}

// A template of one field, as a file would hold it.
QByteArray oneField(const QByteArray &field, const QByteArray &top = QByteArray())
{
    return "{" + top + "\"fields\": [" + field + "]}";
}

MailRecord body(const QString &text)
{
    MailRecord m;
    m.PlainTextBody = text;
    return m;
}

// The cell texts of every row a template makes of one message.
QList<QStringList> texts(const Template &t, const MailRecord &m)
{
    RecordRows rows(t);
    QList<Row> out;
    rows.append(m, out);
    QList<QStringList> cells;
    for (const Row &r : out) {
        QStringList line;
        for (const Cell &c : r)
            line << c.text;
        cells << line;
    }
    return cells;
}

// Every value a one-field template with `all` finds in `text`.
QStringList allValues(const QByteArray &field, const QString &text)
{
    const Template t = compiled(oneField(field));
    RecordRows rows(t);
    QList<Row> out;
    rows.append(body(text), out);
    return out.isEmpty() ? QStringList() : out.first().first().items;
}

}  // namespace

class TestTemplate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refused_data();
    void refused();
    void editedFieldsAreCheckedToo();
    void writtenTemplateReadsBackTheSame_data();
    void writtenTemplateReadsBackTheSame();
    void fieldValue_data();
    void fieldValue();
    void namedGroupsAreColumns();
    void headersAndBuiltins();
    void attachmentsAreSearchedOnlyWhenAsked();
    void patterns_data();
    void patterns();
    void messageRows();
    void matchRows();
    void uniqueRowsAcrossMessages();
    void spansPointAtTheMatchedText();
};

// Each problem names the field it is in, by number and name, and says what is wrong.
void TestTemplate::refused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("problem");

    QTest::newRow("bad JSON")
        << QByteArray("{\"fields\": [\n  {\"name\": \"a\" \"regex\": \"x\"}]}")
        << "the template is not valid JSON: unterminated object at character 30 (line 2, column 17)";
    QTest::newRow("not an object") << QByteArray("[1]") << "a template is a JSON object";
    QTest::newRow("no fields") << QByteArray("{\"rows\": \"message\"}") << "a template needs \"fields\"";
    QTest::newRow("empty field list") << QByteArray("{\"fields\": []}") << "a template needs at least one field";
    QTest::newRow("unknown template key")
        << QByteArray("{\"skip_empyt\": true, \"fields\": [{\"name\": \"a\", \"regex\": \"x\"}]}")
        << "a template has no key \"skip_empyt\"";
    QTest::newRow("version") << oneField("{\"name\": \"a\", \"regex\": \"x\"}", "\"version\": 2, ")
                             << "\"version\" must be 1 (the version this program reads), not 2";
    QTest::newRow("key of another kind") << oneField("{\"name\": \"total\", \"regex\": \"x\", \"start\": \"y\"}")
                                         << "field 1 \"total\": a regex field has no key \"start\"";
    QTest::newRow("case on a pattern") << oneField(
        "{\"name\": \"m\", \"pattern\": \"email\", \"case_insensitive\": true}")
                                       << "field 1 \"m\": a pattern field has no key \"case_insensitive\"";
    QTest::newRow("all on a builtin") << oneField("{\"name\": \"f\", \"builtin\": \"folder\", \"all\": true}")
                                      << "field 1 \"f\": a builtin field has no key \"all\"";
    QTest::newRow("two kinds") << oneField("{\"name\": \"t\", \"regex\": \"x\", \"line\": \"y\"}")
                               << "field 1 \"t\": a field has one of";
    QTest::newRow("no kind") << oneField("{\"name\": \"t\"}") << "field 1 \"t\": a field needs one of \"between\"";
    QTest::newRow("no name") << oneField("{\"regex\": \"x\"}") << "field 1: a field needs a \"name\"";
    QTest::newRow("regex does not compile")
        << oneField("{\"name\": \"a\", \"regex\": \"x\"}, {\"name\": \"total\", \"regex\": \"Total: (\\\\d+\"}")
        << "field 2 \"total\": the regular expression does not compile at character 12: missing closing parenthesis";
    QTest::newRow("regex error at its start") << oneField("{\"name\": \"q\", \"regex\": \"*x\"}")
                                              << "field 1 \"q\": the regular expression does not compile at character "
                                                 "1: quantifier does not follow a repeatable item";
    QTest::newRow("duplicate names")
        << oneField("{\"name\": \"total\", \"regex\": \"x\"}, {\"name\": \"total\", \"line\": \"Total:\"}")
        << "field 2 \"total\": the name \"total\" is already the name of field 1 (\"total\")";
    QTest::newRow("named group takes a field's name")
        << oneField("{\"name\": \"total\", \"line\": \"T\"}, {\"name\": \"p\", \"regex\": \"(?<total>\\\\d+)\"}")
        << "field 2 \"p\": its named group \"total\" is already the name of field 1 (\"total\")";
    QTest::newRow("field takes a named group's name")
        << oneField("{\"name\": \"p\", \"regex\": \"(?<sum>\\\\d+)\"}, {\"name\": \"sum\", \"line\": \"T\"}")
        << "field 2 \"sum\": the name \"sum\" is already the name of field 1 (\"p\")";
    QTest::newRow("match rows without repeat")
        << oneField("{\"name\": \"a\", \"regex\": \"x\"}", "\"rows\": \"match\", ")
        << "rows \"match\" needs \"repeat\"";
    QTest::newRow("repeat of no field") << oneField("{\"name\": \"a\", \"regex\": \"x\"}",
                                                    "\"rows\": \"match\", \"repeat\": \"b\", ")
                                        << "\"repeat\" names \"b\", which is no field of this template";
    QTest::newRow("repeat with message rows") << oneField("{\"name\": \"a\", \"regex\": \"x\"}", "\"repeat\": \"a\", ")
                                              << "\"repeat\" is for rows \"match\" only";
    QTest::newRow("rows value") << oneField("{\"name\": \"a\", \"regex\": \"x\"}", "\"rows\": \"line\", ")
                                << "\"rows\" is \"message\" or \"match\", not \"line\"";
    QTest::newRow("unknown pattern") << oneField("{\"name\": \"p\", \"pattern\": \"iban\"}")
                                     << "field 1 \"p\": there is no pattern \"iban\" (there are \"email\", \"url\"";
    QTest::newRow("unknown builtin") << oneField("{\"name\": \"b\", \"builtin\": \"sender\"}")
                                     << "field 1 \"b\": there is no builtin \"sender\" (there are \"folder\"";
    QTest::newRow("separator not a text") << oneField("{\"name\": \"e\", \"pattern\": \"email\", \"all\": true, "
                                                      "\"separator\": 5}")
                                          << "field 1 \"e\": \"separator\" must be a text";
    QTest::newRow("type") << oneField("{\"name\": \"t\", \"line\": \"T\", \"type\": \"currency\"}")
                          << "field 1 \"t\": \"type\" is \"text\", \"number\" or \"date\", not \"currency\"";
    QTest::newRow("flag not a flag") << oneField("{\"name\": \"t\", \"line\": \"T\", \"trim\": \"yes\"}")
                                     << "field 1 \"t\": \"trim\" must be true or false";
    QTest::newRow("source") << oneField("{\"name\": \"t\", \"line\": \"T\", \"source\": \"headers\"}")
                            << "field 1 \"t\": \"source\" is \"body\" or \"attachments\", not \"headers\"";
    QTest::newRow("empty start marker") << oneField("{\"name\": \"b\", \"between\": {\"start\": \"\", \"end\": \"x\"}}")
                                        << "field 1 \"b\": \"start\" must not be empty";
    QTest::newRow("between without end") << oneField("{\"name\": \"b\", \"between\": {\"start\": \"x\"}}")
                                         << "field 1 \"b\": \"between\" needs \"end\"";
    QTest::newRow("unique of no column") << oneField("{\"name\": \"a\", \"regex\": \"x\"}", "\"unique\": [\"b\"], ")
                                         << "\"unique\" names \"b\", which is no column of this template";
}

void TestTemplate::refused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, problem);
    const TemplateCompile c = loadTemplate(json);
    QVERIFY(!c.ok());
    const QString text = problemsText(c.problems);
    QVERIFY2(text.contains(problem), qPrintable(text));
}

// A template made in the window, not read from a file, meets the same checks.
void TestTemplate::editedFieldsAreCheckedToo()
{
    const auto problemOf = [](FieldKind kind, const QString &name, const QString &parameter, const QString &end) {
        TemplateSpec spec;
        FieldSpec f;
        f.kind = kind;
        f.name = name;
        f.parameter = parameter;
        f.end = end;
        spec.fields = {f};
        return problemsText(compileTemplate(spec).problems);
    };
    QCOMPARE(problemOf(FieldKind::Regex, "", "x", ""), QStringLiteral("field 1: a field needs a name"));
    QCOMPARE(problemOf(FieldKind::Regex, "r", "", ""),
             QStringLiteral("field 1 \"r\": the regular expression is empty"));
    QCOMPARE(problemOf(FieldKind::Between, "b", "x", ""),
             QStringLiteral("field 1 \"b\": the end marker is empty (\"\\n\" is the end of the line)"));
    QCOMPARE(problemOf(FieldKind::Line, "l", "", ""), QStringLiteral("field 1 \"l\": the label is empty"));
    QCOMPARE(problemOf(FieldKind::Pattern, "p", "", ""), QStringLiteral("field 1 \"p\": no pattern is chosen"));
    QCOMPARE(problemOf(FieldKind::Between, "b", "x", "\n"), QString());
}

void TestTemplate::writtenTemplateReadsBackTheSame_data()
{
    QTest::addColumn<TemplateSpec>("spec");
    for (const char *name : {"orders", "shipping", "addresses"}) {
        QFile f(QStringLiteral(VC_TEMPLATE_DIR "/%1.json").arg(QLatin1String(name)));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const TemplateRead read = parseTemplate(f.readAll());
        QVERIFY2(read.ok(), qPrintable(problemsText(read.problems)));
        QTest::newRow(name) << read.spec;
    }
    // Every option away from its default, and texts JSON must escape.
    TemplateSpec s;
    s.name = QStringLiteral("all \"options\"");
    s.description = QStringLiteral("line\nbreak, tab\t, ü, \u2028");
    s.rows = RowsMode::Match;
    s.repeat = QStringLiteral("b");
    s.skipEmpty = true;
    s.unique = true;
    s.uniqueBy = {QStringLiteral("b"), QStringLiteral("w")};
    FieldSpec a;
    a.name = QStringLiteral("a");
    a.kind = FieldKind::Line;
    a.parameter = QStringLiteral("Total:");
    a.wholeLine = true;
    a.caseInsensitive = a.required = a.collapseWhitespace = a.all = true;
    a.trim = false;
    a.separator = QStringLiteral(" | ");
    a.defaultText = QStringLiteral("none");
    a.type = CellType::Number;
    a.source = FieldSource::Attachments;
    a.description = QStringLiteral("note");
    FieldSpec b;
    b.name = QStringLiteral("b");
    b.kind = FieldKind::Between;
    b.parameter = QStringLiteral("\\start\"");
    b.end = QStringLiteral("\n");
    b.type = CellType::Date;
    FieldSpec w;
    w.name = QStringLiteral("w");
    w.kind = FieldKind::Builtin;
    w.parameter = QStringLiteral("attachment_names");
    s.fields = {a, b, w};
    QTest::newRow("every option") << s;
}

void TestTemplate::writtenTemplateReadsBackTheSame()
{
    QFETCH(TemplateSpec, spec);
    const QByteArray json = templateJson(spec);
    const TemplateRead back = parseTemplate(json);
    QVERIFY2(back.ok(), qPrintable(problemsText(back.problems) + "\n" + json));
    QVERIFY2(back.spec == spec, json.constData());
    QCOMPARE(templateJson(back.spec), json);
}

// One field over one body: the cell of the one row.
void TestTemplate::fieldValue_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("value");

    const QString order =
        QStringLiteral("Hello,\r\nOrder #48213 was placed.\r\nOrder #48214 too.\r\n  Total:   $42.10  \r\n"
                       "Subtotal: $40.00\r\n");
    QTest::newRow("between, first") << QByteArray(R"j({"name": "v", "between": {"start": "Order #", "end": " "}})j")
                                    << order << "48213";
    QTest::newRow("between, every") << QByteArray(
        R"j({"name": "v", "between": {"start": "Order #", "end": " "}, "all": true})j")
                                    << order << "48213; 48214";
    QTest::newRow("between to the end of a CR LF line")
        << QByteArray(R"j({"name": "v", "between": {"start": "Order #", "end": "\n"}})j") << order
        << "48213 was placed.";
    QTest::newRow("between to the end of an LF line")
        << QByteArray(R"j({"name": "v", "between": {"start": "Total:", "end": "\n"}})j") << "a\nTotal: 5 EUR\nb"
        << "5 EUR";
    QTest::newRow("end of line at the end of the text")
        << QByteArray(R"j({"name": "v", "between": {"start": "Total:", "end": "\n"}})j") << "Total: 7"
        << "7";
    QTest::newRow("no end marker, no value")
        << QByteArray(R"j({"name": "v", "between": {"start": "<b>", "end": "</b>"}, "default": "-"})j")
        << "<b>open and never closed"
        << "-";
    QTest::newRow("markers are case-sensitive")
        << QByteArray(R"j({"name": "v", "between": {"start": "order #", "end": " "}})j") << order << "";
    QTest::newRow("unless asked") << QByteArray(
        R"j({"name": "v", "between": {"start": "ORDER #", "end": " "}, "case_insensitive": true})j")
                                  << order << "48213";
    QTest::newRow("an empty value is no match")
        << QByteArray(R"j({"name": "v", "between": {"start": "[", "end": "]"}})j") << "[ ] then [x]"
        << "x";
    QTest::newRow("an end marker across lines matches any line ends")
        << QByteArray(
               R"j({"name": "v", "between": {"start": "Ship to:", "end": "\n\n"}, "collapse_whitespace": true})j")
        << "Ship to:\r\n  Robin Vale\r\n  14 Orchard Row\r\n\r\nThanks"
        << "Robin Vale 14 Orchard Row";
    QTest::newRow("regex, group 1") << QByteArray(R"j({"name": "v", "regex": "Total:\\s*\\$?([0-9][0-9.,]*)"})j")
                                    << order << "42.10";
    QTest::newRow("regex, whole match") << QByteArray(R"j({"name": "v", "regex": "#\\d+"})j") << order << "#48213";
    QTest::newRow("regex, every match") << QByteArray(
        R"j({"name": "v", "regex": "#(\\d+)", "all": true, "separator": ","})j")
                                        << order << "48213,48214";
    QTest::newRow("regex, $ before a CR LF")
        << QByteArray(R"j({"name": "v", "regex": "placed(.*)$", "trim": false})j") << order << ".";
    QTest::newRow("regex, ^ at each line")
        << QByteArray(R"j({"name": "v", "regex": "^Sub\\w+"})j") << order << "Subtotal";
    QTest::newRow("regex, case-insensitive")
        << QByteArray(R"j({"name": "v", "regex": "TOTAL", "case_insensitive": true})j") << order << "Total";
    QTest::newRow("regex, letters beyond ASCII")
        << QByteArray(R"j({"name": "v", "regex": "Stra\\w+"})j") << "Große Straße 5" << QStringLiteral("Straße");
    QTest::newRow("line, the rest after the label")
        << QByteArray(R"j({"name": "v", "line": "Total:"})j") << order << "$42.10";
    QTest::newRow("line, the whole line")
        << QByteArray(R"j({"name": "v", "line": {"label": "Total:", "whole": true}})j") << order << "Total:   $42.10";
    QTest::newRow("line, untrimmed") << QByteArray(R"j({"name": "v", "line": "Total:", "trim": false})j") << order
                                     << "   $42.10  ";
    QTest::newRow("line, every line") << QByteArray(
        R"j({"name": "v", "line": "total:", "case_insensitive": true, "all": true})j")
                                      << order << "$42.10; $40.00";
    QTest::newRow("line, nothing found") << QByteArray(R"j({"name": "v", "line": "Tax:", "default": "n/a"})j") << order
                                         << "n/a";
    QTest::newRow("collapse white space")
        << QByteArray(R"j({"name": "v", "line": "Item:", "collapse_whitespace": true})j")
        << "Item:  Cast-iron\t skillet   10\""
        << "Cast-iron skillet 10\"";
}

void TestTemplate::fieldValue()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    QFETCH(QString, value);
    const Template t = compiled(oneField(field));
    const QList<QStringList> rows = texts(t, body(text));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first(), QStringList{value});
}

void TestTemplate::namedGroupsAreColumns()
{
    const Template t = compiled(oneField(
        R"j({"name": "item", "regex": "(?<qty>\\d+) x (?<what>[^$\\r\\n]+?)\\s+(?<price>\\$[\\d.]+)", "all": true}, )j"
        R"j({"name": "total", "line": "Total:"})j"));
    QCOMPARE(t.columnNames(), (QStringList{"qty", "what", "price", "total"}));
    const MailRecord m = body("2 x Linen tea towels   $36.00\r\n1 x Pepper mill  $22.50\r\nTotal: $58.50\r\n");
    RecordRows rows(t);
    QList<Row> out;
    QCOMPARE(rows.append(m, out), 1);
    QCOMPARE(out[0][0].items, (QStringList{"2", "1"}));
    QCOMPARE(out[0][1].items, (QStringList{"Linen tea towels", "Pepper mill"}));
    QCOMPARE(out[0][2].text, QStringLiteral("$36.00; $22.50"));
    QCOMPARE(out[0][3].text, QStringLiteral("$58.50"));
    QVERIFY(t.columns()[0].multi && !t.columns()[3].multi);
}

void TestTemplate::headersAndBuiltins()
{
    const Template t = compiled(oneField(
        R"j({"name": "to", "header": "to"}, {"name": "received", "header": "Received", "all": true, "separator": " / "},)j"
        R"j({"name": "list", "header": "List-Id", "default": "none"},)j"
        R"j({"name": "folder", "builtin": "folder"}, {"name": "uid", "builtin": "uid"},)j"
        R"j({"name": "uidvalidity", "builtin": "uidvalidity"}, {"name": "seq", "builtin": "seq"},)j"
        R"j({"name": "id", "builtin": "message_id"}, {"name": "date", "builtin": "date"},)j"
        R"j({"name": "addr", "builtin": "from_address"}, {"name": "who", "builtin": "from_name"},)j"
        R"j({"name": "subject", "builtin": "subject"}, {"name": "files", "builtin": "attachment_names"})j"));
    QVERIFY(t.needsHeaders());
    QVERIFY(!t.needsAttachmentText());
    MailRecord m;
    m.headers = {{"Received", "from a"}, {"To", QStringLiteral("Zoë <zoe@example.gr>")}, {"Received", "from b"}};
    m.folder = QStringLiteral("INBOX/Orders");
    m.uid = 4711;
    m.uID = 12;
    m.messageId = QStringLiteral("id@example.org");
    m.date = QDateTime(QDate(2025, 1, 6), QTime(8, 12, 5), QTimeZone(-5 * 3600 - 30 * 60));
    m.FromAddress = QStringLiteral("shop@example.org");
    m.FromName = QStringLiteral("The Shop");
    m.Subject = QStringLiteral("Order #1");
    m.attachments = {{"invoice.pdf", "application/pdf", 10, {}, {}},
                     {"", "image/png", 5, {}, {}},
                     {"items.csv", "text/csv", 5, {}, {}}};
    const QList<QStringList> rows = texts(t, m);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first(), (QStringList{QStringLiteral("Zoë <zoe@example.gr>"), "from a / from b", "none",
                                        "INBOX/Orders", "4711", "", "12", "id@example.org", "2025-01-06T08:12:05-05:30",
                                        "shop@example.org", "The Shop", "Order #1", "invoice.pdf; items.csv"}));
    // A message without a date or a UID leaves those cells empty.
    QCOMPARE(texts(t, MailRecord()).first().mid(3, 6), (QStringList{"", "", "", "", "", ""}));
}

void TestTemplate::attachmentsAreSearchedOnlyWhenAsked()
{
    const Template t =
        compiled(oneField(R"j({"name": "body", "regex": "INV-\\d+"},)j"
                          R"j({"name": "attached", "regex": "INV-\\d+", "source": "attachments", "all": true})j"));
    QVERIFY(t.needsAttachmentText());
    MailRecord m = body("see the attachment");
    m.attachments = {{"a.txt", "text/plain", 1, "Invoice INV-1001\r\nalso INV-1002", {}},
                     {"b.pdf", "application/pdf", 1, QString(), "the PDF is encrypted"},
                     {"c.csv", "text/csv", 1, "INV-1003,4.50", {}}};
    QCOMPARE(texts(t, m).first(), (QStringList{"", "INV-1001; INV-1002; INV-1003"}));
}

// Ready-made patterns on text as mail has it: what each finds, in order.
void TestTemplate::patterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("email")
        << "email"
        << "Ask Ada Rowe <ada.rowe@makers-guild.example>, (Tom.Hale+guild@fieldmail.example) or "
           "mailto:sparks@makers.example. Unsubscribe: https://x.example/u?remove=robin@example.net\r\n"
           "Not: @guild, user@localhost, 10 @ 2.50, a@b, x@y.c, name@-bad.example"
        << QStringList{"ada.rowe@makers-guild.example", "Tom.Hale+guild@fieldmail.example", "sparks@makers.example",
                       "robin@example.net"};
    QTest::newRow("email in HTML-derived text")
        << "email" << QStringLiteral("Write to help@mossgrove-tea.example.\u00a0Or j.okafor@mail.example.co.uk;")
        << QStringList{"help@mossgrove-tea.example", "j.okafor@mail.example.co.uk"};
    QTest::newRow("url")
        << "url"
        << "Track: https://track.parcelline.example/PL482019377GB. See (https://en.example.org/wiki/"
           "Tea_(drink)) and www.example.com, or <HTTP://EXAMPLE.NET/a?b=1&c=2>; \"https://q.example/x\""
        << QStringList{"https://track.parcelline.example/PL482019377GB", "https://en.example.org/wiki/Tea_(drink)",
                       "www.example.com", "HTTP://EXAMPLE.NET/a?b=1&c=2", "https://q.example/x"};
    QTest::newRow("url, nothing after the scheme") << "url"
                                                   << "see https:// and www. for more" << QStringList{};
    QTest::newRow("phone") << "phone"
                           << "Call +44 20 7946 0958, (555) 123-4567 or 01632 960 118; fax 555.123.4567. "
                              "Mobile 07700900123, US +1-555-010-0199."
                           << QStringList{"+44 20 7946 0958", "(555) 123-4567", "01632 960 118",
                                          "555.123.4567",     "07700900123",    "+1-555-010-0199"};
    QTest::newRow("phone, not a phone")
        << "phone"
        << "Order #48213, date 2025-01-06 or 06.01.2025, total 1.234.567, server 192.168.1.10, tracking "
           "PL482019377GB, NW-4471-208113, 14:00-15:00, ref 8831209934, card ending 4417, $1,000,000"
        << QStringList{};
    QTest::newRow("money") << "money"
                           << "Total: $42.10, delivery £4.50, Preis 1.234,56 € or EUR 26,30; GBP 18.99, "
                              "USD1,000,000.00, -€5 refund, 12 items, NOK 1 249,00"
                           << QStringList{"$42.10",    "£4.50",           "1.234,56 €", "EUR 26,30",
                                          "GBP 18.99", "USD1,000,000.00", "-€5",        "NOK 1 249,00"};
    QTest::newRow("money, not money") << "money"
                                      << "12 items at 3 for 2, EURO 5, 100% and #48213" << QStringList{};
    QTest::newRow("date") << "date"
                          << "Placed on Monday 6 January 2025, due 2025-02-03, delivery Tuesday 14 January; "
                             "meeting Jan 6, 2025 or 06/01/2025 and 6.1.25. On 3rd March 2025 at 10:40."
                          << QStringList{"Monday 6 January 2025", "2025-02-03", "Tuesday 14 January",
                                         "Jan 6, 2025",           "06/01/2025", "6.1.25",
                                         "3rd March 2025"};
    QTest::newRow("date, not a date")
        << "date"
        << "you may go, version 1.2.3, 2025-13-45, 45/45/2025, 10:40, ratio 3/4, 0761 2928 440" << QStringList{};
}

void TestTemplate::patterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(QStringList, found);
    QVERIFY(findPattern(pattern));
    const QByteArray field = R"j({"name": "v", "pattern": ")j" + pattern.toUtf8() + R"j(", "all": true})j";
    QCOMPARE(allValues(field, text), found);
}

void TestTemplate::messageRows()
{
    const QByteArray fields = R"j({"name": "order", "between": {"start": "Order #", "end": " "}},)j"
                              R"j({"name": "total", "line": "Total:"}, {"name": "uid", "builtin": "uid"},)j"
                              R"j({"name": "emails", "pattern": "email", "all": true})j";
    MailRecord order = body("Order #7 placed. Total: $5 from a@example.org and b@example.org");
    order.uid = 3;
    MailRecord other = body("Nothing to see here");
    other.uid = 4;

    const Template plain = compiled(oneField(fields));
    QCOMPARE(texts(plain, order), (QList<QStringList>{{"7", "$5 from a@example.org and b@example.org", "3",
                                                       "a@example.org; b@example.org"}}));
    QCOMPARE(texts(plain, other), (QList<QStringList>{{"", "", "4", ""}}));

    // skip_empty: builtins alone do not make a row.
    const Template skipping = compiled(oneField(fields, R"j("skip_empty": true, )j"));
    QCOMPARE(texts(skipping, order).size(), 1);
    QVERIFY(texts(skipping, other).isEmpty());

    // required: a message where that field finds nothing gives no row.
    const Template requiring = compiled(oneField(R"j({"name": "order", "between": {"start": "Order #", "end": " "}},)j"
                                                 R"j({"name": "tax", "line": "Tax:", "required": true})j"));
    QVERIFY(texts(requiring, order).isEmpty());
    QCOMPARE(texts(requiring, body("Order #8 x\nTax: 1")), (QList<QStringList>{{"8", "1"}}));
}

void TestTemplate::matchRows()
{
    const Template t = compiled(oneField(R"j({"name": "order", "between": {"start": "Order #", "end": "\n"}},)j"
                                         R"j({"name": "item", "regex": "(?m)^\\s*(?<qty>\\d+) x (?<what>.+?)\\s*$"},)j"
                                         R"j({"name": "tracking", "line": "Tracking:", "all": true})j",
                                         R"j("rows": "match", "repeat": "qty", )j"));
    QVERIFY(!t.columns()[1].multi);  // the repeat field holds one match per row
    QVERIFY(t.columns()[3].multi);
    const MailRecord m = body("Order #A-1\r\n 2 x Salt Road\r\n 1 x Moss guide\r\nTracking: T1\r\nTracking: T2\r\n");
    QCOMPARE(texts(t, m),
             (QList<QStringList>{{"A-1", "2", "Salt Road", "T1; T2"}, {"A-1", "1", "Moss guide", "T1; T2"}}));
    QVERIFY(texts(t, body("Order #A-2 without items")).isEmpty());
}

void TestTemplate::uniqueRowsAcrossMessages()
{
    const Template all = compiled(oneField(R"j({"name": "address", "pattern": "email"})j",
                                           R"j("rows": "match", "repeat": "address", "unique": true, )j"));
    RecordRows rows(all);
    QList<Row> out;
    QCOMPARE(rows.append(body("a@example.org, b@example.org, a@example.org"), out), 2);
    QCOMPARE(rows.append(body("B@example.org and b@example.org, c@example.org"), out), 2);  // "B@" differs
    QCOMPARE(out.size(), 4);
    QCOMPARE(out.last().first().text, QStringLiteral("c@example.org"));
    rows.restart();
    QCOMPARE(rows.append(body("a@example.org"), out), 1);

    // Only the named columns count: the first message of each sender.
    const Template senders = compiled(oneField(R"j({"name": "address", "builtin": "from_address"},)j"
                                               R"j({"name": "subject", "builtin": "subject"})j",
                                               R"j("unique": ["address"], )j"));
    RecordRows bySender(senders);
    QList<Row> firsts;
    for (const auto &[from, subject] :
         {std::pair{"x@example.org", "one"}, {"y@example.org", "two"}, {"x@example.org", "three"}}) {
        MailRecord m;
        m.FromAddress = QString::fromLatin1(from);
        m.Subject = QString::fromLatin1(subject);
        bySender.append(m, firsts);
    }
    QCOMPARE(firsts.size(), 2);
    QCOMPARE(firsts[0][1].text, QStringLiteral("one"));
    QCOMPARE(firsts[1][1].text, QStringLiteral("two"));
}

void TestTemplate::spansPointAtTheMatchedText()
{
    const Template t = compiled(oneField(R"j({"name": "total", "regex": "Total:\\s*(\\S+)"},)j"
                                         R"j({"name": "ids", "between": {"start": "#", "end": " "}, "all": true},)j"
                                         R"j({"name": "subject", "builtin": "subject"},)j"
                                         R"j({"name": "note", "line": "Note:", "source": "attachments"})j"));
    MailRecord m = body("Order #12 and #13 \r\nTotal: $9.50\r\n");
    m.Subject = QStringLiteral("s");
    m.attachments = {{"a.txt", "text/plain", 1, "x\nNote: leave it\n", {}}};
    RecordRows rows(t);
    QList<Row> out;
    QList<RowSpans> spans;
    rows.append(m, out, &spans);
    QCOMPARE(spans.size(), 1);
    const RowSpans &s = spans.first();
    QCOMPARE(s[0], (QList<Span>{{0, 27, 5}}));
    QCOMPARE(m.PlainTextBody.mid(s[0][0].start, s[0][0].length), QStringLiteral("$9.50"));
    QCOMPARE(s[1], (QList<Span>{{0, 7, 2}, {0, 15, 2}}));
    QVERIFY(s[2].isEmpty() || s[2].first().source == -1);
    QCOMPARE(s[3], (QList<Span>{{1, 8, 8}}));
    QCOMPARE(m.attachments[0].text.mid(8, 8), QStringLiteral("leave it"));
}

QTEST_GUILESS_MAIN(TestTemplate)
#include "tst_template.moc"
