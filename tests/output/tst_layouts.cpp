// Clipboard layouts and saved-file bytes.
#include "core/Yield.h"
#include "output/ResultsOutput.h"
#include "rules/ResultsModel.h"

#include <QStringEncoder>
#include <QTest>

using namespace vc;

namespace {
const QString CRLF = QStringLiteral("\r\n");
QString spaces(qsizetype n)
{
    return QString(n, QLatin1Char(' '));
}

// Rows of any number of columns.
class Table : public RowSource {
public:
    struct Row {
        QStringList cells;
        bool ticked;
    };
    explicit Table(int columns, QList<Row> rows = {}) : columns_(columns), rows_(std::move(rows)) {}
    int rowCount() const override { return int(rows_.size()); }
    int columnCount() const override { return columns_; }
    QString cell(int r, int c) const override { return rows_.at(r).cells.value(c); }
    bool isChecked(int r) const override { return rows_.at(r).ticked; }

private:
    int columns_;
    QList<Row> rows_;
};
}  // namespace
Q_DECLARE_METATYPE(Table::Row)

class TestLayouts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void widthsFromAllRows();
    void emptyAndUntickedLists();
    void emptyRowsAndMultiLineCells();
    void severalColumns();
    void cellLongerThan16Bits();
    void streamedLayoutMatchesWhole_data();
    void streamedLayoutMatchesWhole();
    void streamedPiecesStaySmall();
    void resultsModelSource();
    void fileBytes();
    void fileBytesInSystemEncoding();
};

void TestLayouts::widthsFromAllRows()
{
    // Ticked 2 and 4 characters, an unticked 7-character row sets the width.
    const Table t(1, {{{"ab"}, true}, {{"cdef"}, true}, {{"1234567"}, false}});
    QCOMPARE(spaceLayout(t), "ab" + spaces(10) + CRLF + "cdef" + spaces(8) + CRLF);
    QCOMPARE(tabLayout(t), "ab" + spaces(5) + "\t" + CRLF + "cdef" + spaces(3) + "\t" + CRLF);
    QCOMPARE(lineLayout(t), "ab" + CRLF + "cdef" + CRLF);

    // The longest cell gets no padding, only the separator; list order, not tick order.
    const Table u(1, {{{"zz"}, true}, {{"longest"}, true}, {{"a"}, true}});
    QCOMPARE(spaceLayout(u), "zz" + spaces(10) + CRLF + "longest" + spaces(5) + CRLF + "a" + spaces(11) + CRLF);
}

void TestLayouts::emptyAndUntickedLists()
{
    const Table none(1);
    QCOMPARE(spaceLayout(none), QString());
    QCOMPARE(lineLayout(none), QString());
    const Table unticked(1, {{{"a"}, false}, {{"b"}, false}});
    QCOMPARE(spaceLayout(unticked), QString());
    QCOMPARE(tabLayout(unticked), QString());
    QCOMPARE(lineLayout(unticked), QString());
}

void TestLayouts::emptyRowsAndMultiLineCells()
{
    // Only empty cells: width 0, so a row is just the separator.
    const Table empties(1, {{{""}, true}, {{""}, true}});
    QCOMPARE(spaceLayout(empties), spaces(5) + CRLF + spaces(5) + CRLF);
    QCOMPARE(tabLayout(empties), "\t" + CRLF + "\t" + CRLF);
    QCOMPARE(lineLayout(empties), CRLF + CRLF);

    // A whole body as one cell: its line breaks count towards the width and it is copied unchanged.
    const QString body = QStringLiteral("line one\r\nline two\r\n");  // 20 code units
    const Table t(1, {{{body}, true}, {{"x"}, true}});
    QCOMPARE(tabLayout(t), body + "\t" + CRLF + "x" + spaces(19) + "\t" + CRLF);
    // Width in UTF-16 code units: a character outside the basic plane counts twice.
    const Table w(1, {{{QString::fromUcs4(U"\U0001F600")}, false}, {{"a"}, true}});
    QCOMPARE(tabLayout(w), "a" + spaces(1) + "\t" + CRLF);
}

void TestLayouts::severalColumns()
{
    const Table t(3, {{{"a", "bbb", "c"}, true}, {{"aaaa", "", "cc"}, false}, {{"", "b", ""}, true}});
    // Widths 4, 3, 2 from all three rows.
    QCOMPARE(spaceLayout(t), "a" + spaces(3 + 5) + "bbb" + spaces(5) + "c" + spaces(1 + 5) + CRLF + spaces(4 + 5) + "b"
                                 + spaces(2 + 5) + spaces(2 + 5) + CRLF);
    QCOMPARE(tabLayout(t), "a   \tbbb\tc \t" + CRLF + "    \tb  \t  \t" + CRLF);
    // The line layout copies the first column only.
    QCOMPARE(lineLayout(t), "a" + CRLF + CRLF);
}

void TestLayouts::cellLongerThan16Bits()
{
    const QString huge(40000, QLatin1Char('h'));
    const Table t(1, {{{huge}, true}, {{"x"}, true}});
    const QString tabs = tabLayout(t);
    QCOMPARE(tabs.size(), 40000 + 1 + 2 + 1 + 39999 + 1 + 2);
    QCOMPARE(tabs, huge + "\t" + CRLF + "x" + spaces(39999) + "\t" + CRLF);
    QCOMPARE(spaceLayout(t), huge + spaces(5) + CRLF + "x" + spaces(39999 + 5) + CRLF);
}

void TestLayouts::streamedLayoutMatchesWhole_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QList<Table::Row>>("rows");
    QTest::newRow("one column, unticked widest")
        << 1 << QList<Table::Row>{{{"ab"}, true}, {{"cdef"}, true}, {{"1234567"}, false}};
    QTest::newRow("non-ASCII and surrogate pairs") << 1
                                                   << QList<Table::Row>{{{QString::fromUtf8("Grüße €")}, true},
                                                                        {{QString::fromUtf8("👋 ok")}, true},
                                                                        {{QString::fromUtf8("日本語テキスト")}, false}};
    QTest::newRow("three columns, empties")
        << 3 << QList<Table::Row>{{{"a", "bbb", "c"}, true}, {{"", "b"}, true}, {{"xyz", "", "ww"}, false}};
    QTest::newRow("padding longer than one run")
        << 1 << QList<Table::Row>{{{QString(10000, QLatin1Char('w'))}, false}, {{"x"}, true}, {{"yy"}, true}};
    QTest::newRow("nothing ticked") << 2 << QList<Table::Row>{{{"a", "b"}, false}};
}

// Pieces handed to a sink add up to the layout built whole; the measured size
// is the size of that text, in UTF-16 and in UTF-8.
void TestLayouts::streamedLayoutMatchesWhole()
{
    QFETCH(int, columns);
    QFETCH(QList<Table::Row>, rows);
    const Table t(columns, rows);
    for (const Padding padding : {Padding::Spaces, Padding::Tabs}) {
        const QString whole = padding == Padding::Spaces ? spaceLayout(t) : tabLayout(t);
        const PaddedShape shape = measurePadded(t, padding);
        QCOMPARE(shape.length, whole.size());
        QCOMPARE(shape.utf8Bytes, whole.toUtf8().size());
        QString streamed;
        writePadded(t, padding, shape, [&](QStringView piece) { streamed += piece; });
        QCOMPARE(streamed, whole);
    }
}

// A text far larger than the rows goes out in pieces no larger than the
// longest cell or a short run of padding.
void TestLayouts::streamedPiecesStaySmall()
{
    QList<Table::Row> rows{{{QString(1 << 20, QLatin1Char('L'))}, false}};
    for (int i = 0; i < 1000; ++i)
        rows.append({{QString::number(i)}, true});
    const Table t(1, rows);
    const PaddedShape shape = measurePadded(t, Padding::Spaces);
    QCOMPARE(shape.length, qint64(1000) * ((1 << 20) + 5 + 2));
    qint64 total = 0;
    qsizetype largest = 0;
    writePadded(t, Padding::Spaces, shape, [&](QStringView piece) {
        total += piece.size();
        largest = std::max(largest, piece.size());
    });
    QCOMPARE(total, shape.length);
    QVERIFY2(largest <= 4096, qPrintable(QString::number(largest)));
}

void TestLayouts::resultsModelSource()
{
    ResultsModel model;
    model.appendRows({"one", "two", "three"});
    model.setChecked(2, true);
    model.setChecked(0, true);
    const ResultsRowSource ticked(model);
    QCOMPARE(lineLayout(ticked), "one" + CRLF + "three" + CRLF);
    const ResultsRowSource all(model, true);
    QCOMPARE(lineLayout(all), "one" + CRLF + "two" + CRLF + "three" + CRLF);

    // The source keeps the rows it was made from when the list is cleared meanwhile.
    model.clear();
    QCOMPARE(ticked.rowCount(), 3);
    QCOMPARE(tabLayout(ticked), "one  \t" + CRLF + "three\t" + CRLF);
}

void TestLayouts::fileBytes()
{
    // t1, t2 and an empty row; ticks play no part, only the first column is written.
    const Table t(2, {{{"t1", "ignored"}, false}, {{"t2", "ignored"}, true}, {{""}, false}});
    QCOMPARE(textFileBytes(t), QByteArray("t1\r\nt2\r\n\r\n"));
    QCOMPARE(commaFileBytes(t), QByteArray("t1,t2,,\r\n"));

    const Table none(1);
    QCOMPARE(textFileBytes(none), QByteArray());
    QCOMPARE(commaFileBytes(none), QByteArray("\r\n"));

    // One row still ends with a comma; commas and line breaks are not escaped.
    const Table one(1, {{{"a,b\r\nc"}, true}});
    QCOMPARE(commaFileBytes(one), QByteArray("a,b\r\nc,\r\n"));
    QCOMPARE(textFileBytes(one), QByteArray("a,b\r\nc\r\n"));
}

void TestLayouts::fileBytesInSystemEncoding()
{
    const QString text = QString::fromUtf8("Grüße € ok");
    const Table t(1, {{{text}, true}});
    QStringEncoder enc(QStringConverter::System);
    const QByteArray expected = enc.encode(text + "\r\n");
    QCOMPARE(textFileBytes(t), expected);
    // This system's encoding is UTF-8: no byte-order mark, multi-byte characters.
    QVERIFY(!expected.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(textFileBytes(t), (text + "\r\n").toUtf8());

    // Rows are encoded one after the other as one text: pairs, lone surrogates
    // and empty rows give the bytes the joined text gives.
    const QString pair = QString::fromUcs4(U"\U0001F600");
    const QStringList rows{pair, QString(pair.at(0)), QString(), QString(pair.at(1)) + "x", text};
    QList<Table::Row> table;
    for (const QString &r : rows)
        table.append({{r}, false});
    const Table many(1, table);
    QCOMPARE(textFileBytes(many), enc.encode(rows.join("\r\n") + "\r\n"));
    QStringEncoder enc2(QStringConverter::System);
    QCOMPARE(commaFileBytes(many), enc2.encode(rows.join(",") + ",\r\n"));

    // Appended in parts to a buffer that already holds bytes (as the command-line
    // program does message by message): the same bytes after what was there.
    for (const auto &[separator, whole] : {std::pair{QStringLiteral("\r\n"), textFileBytes(many)},
                                           std::pair{QStringLiteral(","), commaFileBytes(many).chopped(2)}}) {
        QByteArray buffer("kept");
        appendRowBytes(rows.mid(0, 2), separator, buffer);
        appendRowBytes({}, separator, buffer);
        appendRowBytes(rows.mid(2), separator, buffer);
        QCOMPARE(buffer, "kept" + whole);
    }

    // Rows that are views of one text, one after another with the separator
    // between them there (the lines of a body), among rows that are not: the
    // bytes of the rows, whatever lies around them in the text.
    const QString body = QStringLiteral("a\r\n\r\nb,c\r\n") + pair + QStringLiteral("\r\nd,e");
    const auto view = [&](qsizetype from, qsizetype size) { return QString::fromRawData(body.constData() + from, size); };
    const QStringList views{view(0, 1), view(3, 0), view(5, 1), view(7, 1), QStringLiteral("own"), view(10, 2),
                            view(14, 1), view(16, 1), view(14, 3)};
    QStringList copies;
    for (const QString &v : views)
        copies << QString(v.constData(), v.size());
    for (const QString &separator : {QStringLiteral("\r\n"), QStringLiteral(",")}) {
        QByteArray fromViews, fromCopies;
        appendRowBytes(views, separator, fromViews);
        appendRowBytes(copies, separator, fromCopies);
        QCOMPARE(fromViews, fromCopies);
        QCOMPARE(fromViews, (copies.join(separator) + separator).toUtf8());
    }
}

QTEST_GUILESS_MAIN(TestLayouts)
#include "tst_layouts.moc"
