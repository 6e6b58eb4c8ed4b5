#include "FakeImapServer.h"

#include <QTimer>

FakeImapServer::FakeImapServer()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, &FakeImapServer::onConnection);
}

int FakeImapServer::count(const QByteArray &verb) const
{
    int n = 0;
    for (const QByteArray &c : commands)
        n += c.startsWith(verb + ' ') || c == verb;
    return n;
}

QByteArray FakeImapServer::last(const QByteArray &verb) const
{
    for (qsizetype i = commands.size() - 1; i >= 0; --i) {
        if (commands[i].startsWith(verb + ' ') || commands[i] == verb)
            return commands[i];
    }
    return {};
}

void FakeImapServer::send(const QByteArray &bytes)
{
    if (latencyMs > 0)
        QTimer::singleShot(latencyMs, this, [this, bytes] { write(bytes); });
    else
        write(bytes);
}

void FakeImapServer::write(const QByteArray &bytes)
{
    if (!client_)
        return;
    client_->write(bytes);
    // Tagged answers are the lines that start with neither "*" nor "+" (literals aside,
    // whose lines in these tests start with header names, never with a tag "V...").
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.startsWith('V') && (line.contains(" OK ") || line.contains(" NO ") || line.contains(" BAD ")))
            ++answered_;
    }
}

QList<int> FakeImapServer::sequenceSet(const QByteArray &set) const
{
    QList<int> out;
    const int count = int(messages.size());
    const auto number = [count](const QByteArray &t, bool *ok) { return t == "*" ? (*ok = true, count) : t.toInt(ok); };
    for (const QByteArray &part : set.split(',')) {
        const QList<QByteArray> ends = part.split(':');
        bool ok1 = false;
        bool ok2 = true;
        int a = number(ends.value(0), &ok1);
        int b = ends.size() > 1 ? number(ends.value(1), &ok2) : a;
        if (!ok1 || !ok2 || ends.size() > 2)
            return {};
        if (a > b)
            std::swap(a, b);
        for (int n = a; n <= b; ++n)
            out << n;
    }
    return out;
}

void FakeImapServer::sendInPieces(const QByteArray &bytes, int pieces, int delayMs)
{
    const qsizetype step = qMax<qsizetype>(1, bytes.size() / qMax(1, pieces));
    int k = 0;
    for (qsizetype at = 0; at < bytes.size(); at += step, ++k) {
        const QByteArray piece = bytes.mid(at, step);
        QTimer::singleShot(delayMs * k, this, [this, piece] { send(piece); });
    }
}

void FakeImapServer::drop()
{
    if (latencyMs > 0 && client_) {  // after what was sent before it
        QTimer::singleShot(latencyMs, this, [c = client_] {
            if (c) {
                c->flush();
                c->disconnectFromHost();
                c->abort();
            }
        });
        return;
    }
    if (client_) {
        client_->flush();
        client_->disconnectFromHost();
        client_->abort();
    }
}

QByteArray FakeImapServer::fetchResponse(int n, const QByteArray &extra) const
{
    const QByteArray &m = messages.at(n - 1);
    return "* " + QByteArray::number(n) + " FETCH (" + extra + "BODY[] {" + QByteArray::number(m.size()) + "}\r\n" + m
           + ")\r\n";
}

void FakeImapServer::onConnection()
{
    while (QTcpSocket *s = server_.nextPendingConnection()) {
        if (client_)
            client_->abort();
        client_ = s;
        buf_.clear();
        current_.clear();
        literalLeft_ = 0;
        answered_ = int(commands.size());  // what came on the old connection is settled
        ++connections;
        connect(s, &QTcpSocket::readyRead, this, &FakeImapServer::onData);
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        scripted_ = !scripts.isEmpty();
        player_.reset();
        if (scripted_)
            startScript(connections - 1);
        else
            send(greeting);
    }
}

void FakeImapServer::onData()
{
    if (!client_)
        return;
    if (scripted_) {
        scriptData();
        return;
    }
    buf_ += client_->readAll();
    while (true) {
        if (literalLeft_ > 0) {
            const qsizetype n = qsizetype(qMin<qint64>(literalLeft_, buf_.size()));
            current_ += buf_.left(n);
            buf_.remove(0, n);
            literalLeft_ -= n;
            if (literalLeft_ > 0)
                return;
        }
        const qsizetype end = buf_.indexOf("\r\n");
        if (end < 0)
            return;
        const QByteArray line = buf_.left(end);
        buf_.remove(0, end + 2);
        current_ += line;
        if (line.endsWith('}')) {
            const qsizetype open = line.lastIndexOf('{');
            QByteArray size = line.mid(open + 1, line.size() - open - 2);
            const bool plus = size.endsWith('+');
            if (plus)
                size.chop(1);
            bool ok = false;
            literalLeft_ = size.toLongLong(&ok);
            if (ok) {
                current_ += "\r\n";
                if (!plus)
                    send("+ go ahead\r\n");
                continue;
            }
        }
        const QByteArray command = current_;
        current_.clear();
        dispatch(command);
    }
}

void FakeImapServer::dispatch(const QByteArray &command)
{
    const qsizetype sp = command.indexOf(' ');
    const QByteArray tag = command.left(sp);
    const QByteArray rest = sp < 0 ? QByteArray() : command.mid(sp + 1);
    commands << rest;
    unanswered << int(commands.size() - 1 - answered_);
    QList<QByteArray> words = rest.split(' ');
    QByteArray verb = words.value(0).toUpper();
    QByteArray args = rest.mid(verb.size() + 1);
    if (verb == "UID") {
        verb += ' ' + words.value(1).toUpper();
        args = rest.mid(verb.size() + 1);
    }
    if (const auto h = handlers.find(verb); h != handlers.end()) {
        h.value()(tag, args);
        return;
    }
    if (verb == "CAPABILITY") {
        send("* CAPABILITY " + capability + "\r\n" + tag + " OK Capability completed.\r\n");
    } else if (verb == "ID") {
        send("* ID (\"name\" \"Fake\")\r\n" + tag + " OK ID completed.\r\n");
    } else if (verb == "LOGIN") {
        send(tag + " OK [CAPABILITY " + capability + "] Logged in\r\n");
    } else if (verb == "LIST") {
        QByteArray out;
        for (const QByteArray &l : listLines)
            out += l + "\r\n";
        send(out + tag + " OK List completed.\r\n");
    } else if (verb == "SELECT") {
        send("* FLAGS (\\Seen)\r\n* " + QByteArray::number(messages.size()) + " EXISTS\r\n* 0 RECENT\r\n" + tag
             + " OK [READ-WRITE] Select completed.\r\n");
    } else if (verb == "FETCH" || verb == "UID FETCH") {
        const QList<int> set = sequenceSet(args.split(' ').value(0));
        for (const int n : set) {
            if (n < 1 || n > messages.size()) {
                send(tag + " BAD Error in IMAP command FETCH: Invalid messageset\r\n");
                return;
            }
        }
        if (set.isEmpty()) {
            send(tag + " BAD Error in IMAP command FETCH: Invalid messageset\r\n");
            return;
        }
        QByteArray r;
        for (const int n : set) {
            if (missing.contains(n) || (set.size() > 1 && missingInRanges.contains(n)))
                continue;
            r += fetchResponse(n, verb == "UID FETCH" ? "UID " + QByteArray::number(n) + ' ' : QByteArray());
        }
        r += tag + " OK Fetch completed.\r\n";
        if (literalPieces > 1)
            sendInPieces(r, literalPieces, pieceDelayMs);
        else
            send(r);
    } else if (verb == "LOGOUT") {
        send("* BYE Logging out\r\n" + tag + " OK Logout completed.\r\n");
        drop();
    } else {
        send(tag + " BAD Unknown command\r\n");
    }
}
