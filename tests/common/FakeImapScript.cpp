// FakeImapServer: playing scripted dialogues.
#include "FakeImapServer.h"

#include <QTimer>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

QByteArray FakeImapServer::unescape(const QByteArray &text, QString *error) const
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' && text.mid(i, 2) == "{{") {
            const qsizetype end = text.indexOf("}}", i + 2);
            const QByteArray name = text.mid(i + 2, end - i - 2);
            if (end < 0 || !literals.contains(name)) {
                *error = QStringLiteral("no literal named \"%1\"").arg(QString::fromUtf8(name));
                return {};
            }
            const QByteArray &bytes = literals[name];
            out += '{' + QByteArray::number(bytes.size()) + "}\r\n" + bytes;
            i = end + 1;
        } else if (c == '\\' && i + 1 < text.size()) {
            const char e = text[++i];
            if (e == 'x' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
                out += char(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
                i += 2;
            } else {
                out += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e;
            }
        } else {
            out += c;
        }
    }
    return out;
}

QList<FakeImapServer::Step> FakeImapServer::parseScript(const QByteArray &text, QString *error) const
{
    QList<Step> steps;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size() && error->isEmpty(); ++n) {
        QByteArray line = lines[n];
        if (line.endsWith('\r'))
            line.chop(1);
        while (line.startsWith(' ') || line.startsWith('\t'))
            line.remove(0, 1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        Step step;
        step.line = int(n + 1);
        step.source = line;
        const QByteArray rest = line.mid(2).startsWith(' ') ? line.mid(3) : line.mid(2);
        if (line.startsWith("S:") || line.startsWith("P:")) {
            step.bytes = unescape(rest, error) + (line.startsWith("S:") ? "\r\n" : "");
        } else if (line.startsWith("C:")) {
            step.kind = Step::Expect;
            step.bytes = unescape(rest, error);
        } else if (line.startsWith("DELAY ")) {
            step.kind = Step::Delay;
            step.ms = line.mid(6).trimmed().toInt();
        } else if (line == "DROP") {
            step.kind = Step::Drop;
        } else {
            *error = QStringLiteral("line %1: what is \"%2\"?").arg(n + 1).arg(QString::fromUtf8(line));
        }
        steps << step;
    }
    return steps;
}

void FakeImapServer::startScript(int index)
{
    if (index >= scripts.size()) {
        problems_ << QStringLiteral("connection %1 has no script").arg(index + 1);
        drop();
        return;
    }
    QString error;
    Player p;
    p.script = index;
    p.steps = parseScript(scripts[index], &error);
    played_.resize(qMax(played_.size(), scripts.size()));
    if (!error.isEmpty()) {
        problems_ << QStringLiteral("script %1: %2").arg(index + 1).arg(error);
        drop();
        return;
    }
    player_ = std::move(p);
    advance();
}

void FakeImapServer::scriptData()
{
    buf_ += client_->readAll();
    qsizetype end;
    while ((end = buf_.indexOf("\r\n")) >= 0) {
        const QByteArray line = buf_.left(end);
        buf_.remove(0, end + 2);
        clientLines << line;
        if (player_)
            player_->lines << line;
    }
    if (player_ && !player_->delaying)
        advance();
}

void FakeImapServer::advance()
{
    Player &p = *player_;
    while (p.at < p.steps.size()) {
        const Step &step = p.steps[p.at];
        if (step.kind == Step::Expect) {
            if (p.lines.isEmpty())
                return;  // until the client sends its next line
            const QByteArray got = p.lines.takeFirst();
            if (got != step.bytes) {
                problems_ << QStringLiteral("script %1, line %2: expected \"%3\", the client sent \"%4\"")
                                 .arg(p.script + 1)
                                 .arg(step.line)
                                 .arg(QString::fromUtf8(step.source.mid(3)), QString::fromUtf8(got));
                player_.reset();
                drop();
                return;
            }
        }
        played_[p.script] = ++p.at;
        if (step.kind == Step::Send) {
            write(step.bytes);
        } else if (step.kind == Step::Drop) {
            player_.reset();
            drop();
            return;
        } else if (step.kind == Step::Delay) {
            p.delaying = true;
            QTimer::singleShot(step.ms, this, [this, c = client_] {
                if (c && c == client_ && player_) {
                    player_->delaying = false;
                    advance();
                }
            });
            return;
        }
    }
    for (const QByteArray &line : std::as_const(p.lines))
        problems_ << QStringLiteral("script %1 is over, the client sent \"%2\"")
                         .arg(p.script + 1)
                         .arg(QString::fromUtf8(line));
    p.lines.clear();
}

QString FakeImapServer::scriptError() const
{
    QStringList out = problems_;
    for (qsizetype k = 0; k < scripts.size(); ++k) {
        QString error;
        const QList<Step> steps = parseScript(scripts[k], &error);
        const qsizetype done = played_.value(k);
        if (error.isEmpty() && done < steps.size())
            out << QStringLiteral("script %1 stopped at line %2: %3")
                       .arg(k + 1)
                       .arg(steps[done].line)
                       .arg(QString::fromUtf8(steps[done].source));
    }
    out.removeDuplicates();
    return out.join(QLatin1Char('\n'));
}
