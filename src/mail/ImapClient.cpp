#include "mail/ImapClient.h"

#include "mail/MimeDecode.h"
#include "mail/ModifiedUtf7.h"

#include <QEventLoop>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

namespace vc {

namespace {

constexpr int kTickMs = 50;
constexpr int kLogoutTimeoutMs = 5000;

bool quotable(const QByteArray &bytes)
{
    if (bytes.size() > 1000)
        return false;
    for (const char c : bytes) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7e)
            return false;
    }
    return true;
}

QString describe(const ImapResponse &r)
{
    QByteArray s = r.status;
    if (!r.code.isEmpty())
        s += " [" + r.code + ']';
    if (!r.text.isEmpty())
        s += ' ' + r.text;
    return QString::fromUtf8(s);
}

// The message number of a response head "* 7 FETCH (...", else -1.
qint64 headNumber(const QByteArray &head)
{
    if (!head.startsWith("* "))
        return -1;
    qsizetype end = 2;
    while (end < head.size() && head[end] >= '0' && head[end] <= '9')
        ++end;
    if (end == 2 || end > 12)
        return -1;
    return head.mid(2, end - 2).toLongLong();
}

QStringList capabilityList(const std::vector<ImapValue> &values, size_t from)
{
    QStringList caps;
    for (size_t i = from; i < values.size(); ++i)
        caps << QString::fromLatin1(values[i].text).toUpper();
    return caps;
}

}  // namespace

struct ImapClient::Pending {
    QString op;
    QByteArray tag;            // empty while waiting for the greeting
    QList<QByteArray> pieces;  // still to send, each after a go-ahead
    int next = 0;
    UntaggedHandler onUntagged;
    ImapResponse tagged;
    bool done = false;
    bool ok = false;
    QString error;
    QEventLoop *loop = nullptr;
    int progressFor = 0;          // the message whose literal PercentDone follows; 0: none
    std::function<bool()> until;  // waits without a command of its own: done when true
};

void ImapClient::Command::astring(const QByteArray &bytes, bool literalPlus)
{
    if (quotable(bytes)) {
        QByteArray q;
        q.reserve(bytes.size() + 2);
        q += '"';
        for (const char c : bytes) {
            if (c == '"' || c == '\\')
                q += '\\';
            q += c;
        }
        q += '"';
        text(q);
    } else if (literalPlus) {
        text('{' + QByteArray::number(bytes.size()) + "+}\r\n" + bytes);
    } else {
        text('{' + QByteArray::number(bytes.size()) + '}');
        pieces.append(bytes);
    }
}

ImapClient::ImapClient(QObject *parent) : ImapComponent(parent) {}

ImapClient::~ImapClient()
{
    if (pending_) {
        pending_->done = true;
        pending_->ok = false;
        if (pending_->loop)
            pending_->loop->quit();
        pending_ = nullptr;
    }
    closeConnection();
}

void ImapClient::configure(const ConnectionConfig &config)
{
    setCaFile(config.caFile);
    setTimeoutMs(config.timeoutMs);
}

QString ImapClient::redact(QString text) const
{
    if (secret_.size() >= 3)
        text.replace(secret_, QStringLiteral("********"));
    return text;
}

bool ImapClient::beginOperation(const QString &op)
{
    if (pending_) {
        lastError_ = op + QStringLiteral(" failed: another operation is in progress");
        return false;
    }
    return true;
}

bool ImapClient::requireConnection(const QString &op)
{
    kept_ = Kept();  // anything but the walk's next fetch ends it
    if (!socket_) {
        lastError_ = op + QStringLiteral(" failed: not connected");
        return false;
    }
    return true;
}

void ImapClient::closeConnection()
{
    if (socket_) {
        QSslSocket *s = socket_;
        socket_ = nullptr;
        // The socket may be in the middle of emitting a signal: let it finish
        // before it goes, and do not let our own destruction delete it early.
        s->disconnect(this);
        s->setParent(nullptr);
        if (reading_) {
            // Called from inside the socket's own read notification: aborting
            // now would pull its buffers from under the caller further up.
            QMetaObject::invokeMethod(
                s,
                [s] {
                    s->abort();
                    s->deleteLater();
                },
                Qt::QueuedConnection);
        } else {
            s->abort();
            s->deleteLater();
        }
    }
    parser_.reset();
    selected_.clear();
    exists_ = 0;
    forgetReadAhead();
    ahead_.ranges.clear();
}

void ImapClient::complete(bool ok, const QString &error)
{
    Pending *p = pending_;
    if (!p || p->done)
        return;
    p->done = true;
    p->ok = ok;
    p->error = error;
    if (p->loop)
        p->loop->quit();
}

void ImapClient::abandon(QString reason)
{
    closeConnection();
    complete(false, reason);
}

bool ImapClient::wait(Pending &p)
{
    QPointer<ImapClient> self(this);
    QEventLoop loop;
    p.loop = &loop;
    pending_ = &p;
    silence_.start();
    sendNextPiece();

    QTimer ticker;
    ticker.setInterval(kTickMs);
    connect(&ticker, &QTimer::timeout, this, &ImapClient::tick);
    ticker.start();
    // Data may already wait in the socket's buffer.
    if (!p.done && socket_ && socket_->bytesAvailable() > 0)
        readSocket();
    if (!self)
        return false;
    if (!p.done)
        loop.exec();
    if (!self)
        return false;  // destroyed while waiting: touch nothing
    ticker.stop();
    p.loop = nullptr;
    if (pending_ == &p)
        pending_ = nullptr;
    return p.ok;
}

void ImapClient::sendNextPiece()
{
    Pending *p = pending_;
    if (!p || p->next >= p->pieces.size() || !socket_)
        return;
    QByteArray piece = p->pieces[p->next++];
    piece += "\r\n";
    socket_->write(piece);
}

bool ImapClient::run(const QString &op, Command cmd, const UntaggedHandler &onUntagged, ImapResponse *tagged,
                     int progress)
{
    if (!requireConnection(op))
        return false;
    QPointer<ImapClient> self(this);
    Pending p;
    p.op = op;
    p.tag = 'V' + QByteArray::number(++tagCounter_).rightJustified(4, '0');
    p.pieces = std::move(cmd.pieces);
    p.pieces.first().prepend(p.tag + ' ');
    p.onUntagged = onUntagged;
    p.progressFor = progress;
    lastPct_ = progress ? -1 : 100;
    const bool ok = wait(p);
    if (!self)
        return false;
    if (ok)
        lastError_ = op + QStringLiteral(": OK");
    else
        lastError_ = redact(op + QStringLiteral(" failed: ") + p.error);
    if (tagged)
        *tagged = std::move(p.tagged);
    return ok;
}

void ImapClient::tick()
{
    if (ticking_ || !pending_)
        return;
    ticking_ = true;
    QPointer<ImapClient> self(this);
    if (socket_ && !reading_ && socket_->bytesAvailable() > 0)
        readSocket();
    if (!self)
        return;
    Pending *p = pending_;
    if (p && !p->done && silence_.elapsed() > timeoutMs_) {
        abandon(
            QStringLiteral("timed out after %1 s without an answer from the server").arg((timeoutMs_ + 999) / 1000));
    } else if (p && !p->done) {
        int answer = 0;
        Q_EMIT AbortCheck(answer);
        if (!self)
            return;
        if (answer != 0 && pending_ == p && !p->done)
            abandon(QStringLiteral("aborted"));
    }
    ticking_ = false;
}

void ImapClient::readSocket()
{
    if (reading_)
        return;
    reading_ = true;
    QPointer<ImapClient> self(this);
    while (socket_ && socket_->bytesAvailable() > 0) {
        const QByteArray data = socket_->readAll();
        silence_.restart();
        parser_.feed(data);
        while (parser_.hasResponse()) {
            ImapResponse r = parser_.takeResponse();
            handle(r);
        }
        if (parser_.hasError()) {
            keepReceived(parser_.errorText(), headNumber(parser_.errorLine()));
            abandon(parser_.errorText());
            break;
        }
        if (pending_ && !pending_->done && lastPct_ < 100 && pending_->progressFor != 0 && parser_.inLiteral()
            && parser_.literalSize() > 0
            && (pending_->progressFor < 0 || headNumber(parser_.pendingHead()) == pending_->progressFor)) {
            const int pct = int(parser_.literalReceived() * 100 / parser_.literalSize());
            if (pct != lastPct_) {
                lastPct_ = pct;
                Q_EMIT PercentDone(pct);
                if (!self)
                    return;
            }
        }
    }
    reading_ = false;
}

void ImapClient::handle(ImapResponse &r)
{
    // The client's own bookkeeping, whatever is waiting.
    if (r.kind != ImapResponse::Continuation && r.code.toUpper().startsWith("CAPABILITY ")) {
        capabilities_ = QString::fromLatin1(r.code.mid(11)).toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    if (r.kind == ImapResponse::Untagged) {
        if (r.status == "BYE") {
            bye_ = r.text;
        } else if (!r.isStatus()) {
            const QByteArray name = r.name();
            if (name == "CAPABILITY")
                capabilities_ = capabilityList(r.values, 1);
            else if (name == "EXISTS" && !selected_.isEmpty())
                exists_ = int(qMin<qint64>(r.number(), INT_MAX));
            else if (name == "EXPUNGE" && !selected_.isEmpty() && exists_ > 0)
                --exists_;
        }
    }

    if (takeForReadAhead(r)) {
        checkPending();
        return;
    }

    Pending *p = pending_;
    if (!p || p->done)
        return;
    if (p->tag.isEmpty()) {  // the greeting
        if (r.kind == ImapResponse::Untagged && (r.status == "OK" || r.status == "PREAUTH"))
            complete(true);
        else if (r.kind == ImapResponse::Untagged && r.status == "BYE")
            abandon(QStringLiteral("the server refused the connection: ") + describe(r));
        else
            abandon(QStringLiteral("the server's greeting is not IMAP: ") + QString::fromUtf8(r.raw.left(120)));
        return;
    }
    switch (r.kind) {
    case ImapResponse::Continuation:
        if (p->next < p->pieces.size())
            sendNextPiece();
        else
            abandon(QStringLiteral("the server asked for data the command does not have"));
        break;
    case ImapResponse::Untagged:
        if (p->onUntagged)
            p->onUntagged(r);
        break;
    case ImapResponse::Tagged:
        if (r.tag != p->tag)
            break;  // not ours (a late answer of an abandoned command cannot come: we reconnect)
        {
            const bool ok = r.status == "OK";
            const QString why = ok ? QString() : describe(r);
            p->tagged = std::move(r);
            complete(ok, why);
        }
        break;
    }
}

void ImapClient::socketError()
{
    if (!socket_)
        return;
    QString reason;
    if (!sslErrors_.isEmpty())
        reason = QStringLiteral("the server's certificate was not accepted: ") + sslErrors_;
    else if (socket_->error() == QAbstractSocket::RemoteHostClosedError)
        reason = QStringLiteral("the connection was closed by the server");
    else
        reason = socket_->errorString();
    if (!bye_.isEmpty() && sslErrors_.isEmpty())
        reason += QStringLiteral(" (BYE %1)").arg(QString::fromUtf8(bye_));
    keepReceived(reason);
    abandon(reason);
}

void ImapClient::socketClosed()
{
    if (!socket_)
        return;
    QString reason = QStringLiteral("the connection was closed by the server");
    if (!bye_.isEmpty())
        reason += QStringLiteral(" (BYE %1)").arg(QString::fromUtf8(bye_));
    keepReceived(reason);
    abandon(reason);
}

int ImapClient::Connect(const QString &host)
{
    const QString op = QStringLiteral("Connect to %1:%2").arg(host).arg(port_);
    if (!beginOperation(op))
        return 0;
    closeConnection();
    kept_ = Kept();
    capabilities_.clear();
    sslErrors_.clear();
    bye_.clear();
    secret_.clear();
    parser_.setMaxLiteralBytes(maxMessageBytes_);

    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    if (ssl_) {
        if (!QSslSocket::supportsSsl()) {
            lastError_ = op + QStringLiteral(" failed: TLS is not available on this system");
            return 0;
        }
        // Reading and parsing the system's CA bundle costs a noticeable moment,
        // and a run connects more than once: keep the list for this CA file.
        if (!trustedLoaded_ || trustedFor_ != caFile_) {
            QList<QSslCertificate> cas = QSslConfiguration::systemCaCertificates();
            if (!caFile_.isEmpty()) {
                const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile_, QSsl::Pem);
                if (extra.isEmpty()) {
                    lastError_ =
                        op + QStringLiteral(" failed: no certificate could be read from the CA file %1").arg(caFile_);
                    return 0;
                }
                cas += extra;
            }
            trusted_ = std::move(cas);
            trustedFor_ = caFile_;
            trustedLoaded_ = true;
        }
        conf.setCaCertificates(trusted_);
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    }

    auto *s = new QSslSocket(this);
    socket_ = s;
    connect(s, &QSslSocket::readyRead, this, &ImapClient::readSocket);
    connect(s, &QSslSocket::errorOccurred, this, &ImapClient::socketError);
    connect(s, &QSslSocket::disconnected, this, &ImapClient::socketClosed);
    connect(s, &QSslSocket::connected, this, [this] { silence_.restart(); });
    connect(s, &QSslSocket::encrypted, this, [this] { silence_.restart(); });
    connect(s, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        QStringList texts;
        for (const QSslError &e : errors)
            texts << e.errorString();
        sslErrors_ = texts.join(QStringLiteral("; "));
    });
    if (ssl_) {
        s->setSslConfiguration(conf);
        s->connectToHostEncrypted(host, quint16(port_));
    } else {
        s->connectToHost(host, quint16(port_));
    }

    QPointer<ImapClient> self(this);
    Pending greeting;
    greeting.op = op;
    lastPct_ = 100;
    const bool ok = wait(greeting);
    if (!self)
        return 0;
    if (!ok) {
        lastError_ = op + QStringLiteral(" failed: ") + greeting.error;
        closeConnection();
        return 0;
    }
    if (capabilities_.isEmpty()) {
        Command c;
        c.text("CAPABILITY");
        if (!run(QStringLiteral("CAPABILITY"), c)) {
            if (self)
                closeConnection();
            return 0;
        }
    }
    lastError_ = op + QStringLiteral(": OK");
    return 1;
}

QString ImapClient::SendRawCommand(const QString &cmd)
{
    const QString op = cmd.section(QLatin1Char(' '), 0, 0).toUpper();
    if (!beginOperation(op) || !requireConnection(op))
        return {};
    const QByteArray bytes = cmd.toUtf8();
    if (bytes.isEmpty() || bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0')) {
        lastError_ = op + QStringLiteral(" failed: a command must be one line of text");
        return {};
    }
    if (!drainReadAhead(op))
        return {};
    QList<QByteArray> lines;
    ImapResponse tagged;
    Command c;
    c.text(bytes);
    QPointer<ImapClient> self(this);
    if (!run(
            op, c, [&lines](ImapResponse &r) { lines << r.raw; }, &tagged))
        return {};
    lines << tagged.raw;
    return QString::fromUtf8(lines.join("\r\n"));
}

int ImapClient::Login(const QString &user, const QString &password)
{
    const QString op = QStringLiteral("LOGIN");
    if (!beginOperation(op) || !requireConnection(op) || !drainReadAhead(op))
        return 0;
    secret_ = password;
    const bool literalPlus = capabilities_.contains(QStringLiteral("LITERAL+"));
    Command c;
    c.text("LOGIN ");
    c.astring(user.toUtf8(), literalPlus);
    c.text(" ");
    c.astring(password.toUtf8(), literalPlus);
    return run(op, c) ? 1 : 0;
}

std::unique_ptr<MailboxList> ImapClient::ListMailboxes(const QString &reference, const QString &pattern)
{
    const QString op = QStringLiteral("LIST");
    if (!beginOperation(op) || !requireConnection(op) || !drainReadAhead(op))
        return nullptr;
    const bool literalPlus = capabilities_.contains(QStringLiteral("LITERAL+"));
    Command c;
    c.text("LIST ");
    c.astring(encodeMailboxName(reference), literalPlus);
    c.text(" ");
    c.astring(encodeMailboxName(pattern), literalPlus);
    QList<MailboxInfo> boxes;
    const auto onList = [&boxes](ImapResponse &r) {
        if (r.name() != "LIST" || r.values.size() < 4 || r.values[3].kind == ImapValue::Nil
            || r.values[3].kind == ImapValue::List)
            return;
        MailboxInfo box;
        box.name = decodeMailboxName(r.values[3].text);
        for (const ImapValue &flag : r.values[1].list)
            box.flags << QString::fromUtf8(flag.text);
        boxes << box;
    };
    if (!run(op, c, onList))
        return nullptr;
    return std::make_unique<MailboxList>(std::move(boxes));
}

int ImapClient::SelectMailbox(const QString &mailbox)
{
    const QString op = QStringLiteral("SELECT ") + mailbox;
    if (!beginOperation(op) || !requireConnection(op) || !drainReadAhead(op))
        return 0;
    const bool isInbox = mailbox.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
    Command c;
    c.text("SELECT ");
    c.astring(isInbox ? QByteArray("INBOX") : encodeMailboxName(mailbox),
              capabilities_.contains(QStringLiteral("LITERAL+")));
    selected_.clear();
    exists_ = 0;
    qint64 exists = 0;
    QPointer<ImapClient> self(this);
    const bool ok = run(op, c, [&exists](ImapResponse &r) {
        if (r.name() == "EXISTS")
            exists = r.number();
    });
    if (!self || !ok)
        return 0;
    selected_ = mailbox;
    exists_ = int(qMin<qint64>(exists, INT_MAX));
    return 1;
}

int ImapClient::NumMessages()
{
    return selected_.isEmpty() ? 0 : exists_;
}

std::unique_ptr<ImapEmail> ImapClient::FetchSingle(int number, bool bUid)
{
    const QString op = (bUid ? QStringLiteral("UID FETCH ") : QStringLiteral("FETCH ")) + QString::number(number);
    if (!beginOperation(op))
        return nullptr;
    if (kept_.next > 0 && !socket_ && !bUid && number == kept_.next)
        return takeKept(number, op);
    if (!requireConnection(op))
        return nullptr;
    if (selected_.isEmpty()) {
        lastError_ = op + QStringLiteral(" failed: no mailbox is selected");
        return nullptr;
    }
    if (number <= 0) {
        lastError_ = op + QStringLiteral(" failed: message numbers start at 1");
        return nullptr;
    }
    QPointer<ImapClient> self(this);

    // The walk goes on with the next number: take it from the read-ahead, which
    // starts with the second of two consecutive numbers.
    const bool ascending =
        !bUid && readAheadWindow_ > 1 && number <= exists_
        && (ahead_.next > 0 ? number == ahead_.next : lastSeqFetched_ > 0 && number == lastSeqFetched_ + 1);
    if (!ascending && !drainReadAhead(op))
        return nullptr;
    if (ascending) {
        if (ahead_.next == 0) {
            ahead_.next = number;
            ahead_.sentUpTo = qMax(ahead_.sentUpTo, number - 1);
        }
        // Whatever lies below the number is of no more use.
        while (!ahead_.bodies.empty() && ahead_.bodies.begin()->first < number) {
            ahead_.bytes -= ahead_.bodies.begin()->second.size();
            ahead_.bodies.erase(ahead_.bodies.begin());
        }
        topUp(number);
        lastPct_ = -1;
        if (ahead_.bodies.count(number) == 0 && inFlight(number)) {
            Pending p;
            p.op = op;
            p.tag = "*";  // no command of its own: never matches a tagged answer
            p.progressFor = number;
            p.until = [this, number] { return ahead_.bodies.count(number) > 0 || !inFlight(number); };
            const bool ok = wait(p);
            if (!self)
                return nullptr;
            if (!socket_ && kept_.next == number)
                return takeKept(number, op);  // the line went, but maybe after this one arrived
            if (!ok) {
                lastError_ = redact(op + QStringLiteral(" failed: ") + p.error);
                return nullptr;
            }
        }
        lastSeqFetched_ = number;
        ahead_.next = number + 1;
        const auto it = ahead_.bodies.find(number);
        if (it != ahead_.bodies.end()) {
            const QByteArray body = std::move(it->second);
            ahead_.bytes -= body.size();
            ahead_.bodies.erase(it);
            topUp(number + 1);  // on the wire while this one is decoded and handled
            return handOut(op, body);
        }
        // The range came back without it: ask for it once on its own, which
        // tells a message that is really missing from a hiccup of the range.
    }

    Command c;
    c.text((bUid ? "UID FETCH " : "FETCH ") + QByteArray::number(number) + " (BODY.PEEK[])");
    QByteArray body;
    bool got = false;
    bool gone = false;
    const auto onFetch = [&](ImapResponse &r) {
        if (r.name() != "FETCH" || r.values.size() < 3 || r.values[2].kind != ImapValue::List)
            return;
        ImapValue &items = r.values[2];
        if (bUid) {
            const ImapValue *uid = items.item("UID");
            if (!uid || uid->text.toLongLong() != number)
                return;
        } else if (r.number() != number) {
            return;
        }
        ImapValue *b = items.item("BODY[]");
        if (!b)
            return;
        if (b->kind == ImapValue::Nil || b->kind == ImapValue::List) {
            gone = true;
            return;
        }
        body = std::move(b->text);
        got = true;
    };
    const bool ok = run(op, c, onFetch, nullptr, bUid ? -1 : number);
    if (!self)
        return nullptr;
    if (socket_)
        lastSeqFetched_ = bUid ? 0 : number;
    if (!ok)
        return nullptr;
    if (!got) {
        lastError_ = op
                     + (gone ? QStringLiteral(" failed: the server has no content for this message")
                             : QStringLiteral(" failed: the server sent no message (it may have been removed)"));
        return nullptr;
    }
    if (!bUid) {
        // Sizes seen so far: the read-ahead that may follow sizes its ranges by them.
        ahead_.arrivedBytes += body.size();
        ++ahead_.arrivedCount;
    }
    if (lastPct_ != 100) {
        lastPct_ = 100;
        Q_EMIT PercentDone(100);
        if (!self)
            return nullptr;
    }
    auto email = std::make_unique<ImapEmail>(decodeMessage(body));
    return email;
}

bool ImapClient::inFlight(qint64 number) const
{
    for (const Range &r : ahead_.ranges) {
        if (number >= r.first && number <= r.last)
            return true;
    }
    return false;
}

void ImapClient::topUp(int from)
{
    if (!socket_ || selected_.isEmpty() || readAheadWindow_ <= 1 || ahead_.next == 0)
        return;
    const int chunk = qMax(1, readAheadWindow_ / 2);
    const qint64 average = ahead_.arrivedCount > 0 ? ahead_.arrivedBytes / ahead_.arrivedCount : 0;
    while (true) {
        const int limit = int(qMin<qint64>(qint64(from) + readAheadWindow_ - 1, exists_));
        if (ahead_.sentUpTo >= limit)
            break;
        const bool needed = ahead_.sentUpTo < from;  // the caller waits for it: always ask
        // Received bytes plus what is on its way, at the sizes seen so far.
        const qint64 onItsWay = qint64(qMax(0, ahead_.sentUpTo - qMax(ahead_.arrivedUpTo, from - 1))) * average;
        if (!needed && ahead_.bytes + onItsWay >= readAheadBudget_)
            break;
        // A range of half the window once half of it has been taken, or the tail.
        if (!needed && limit - ahead_.sentUpTo < chunk && limit < exists_)
            break;
        int last = qMin(ahead_.sentUpTo + chunk, limit);
        if (average > 0) {
            // Bigger messages: fewer of them per range, so the budget holds.
            const qint64 room = qMax<qint64>(1, (readAheadBudget_ - ahead_.bytes - onItsWay) / average);
            last = int(qMin<qint64>(last, qint64(ahead_.sentUpTo) + room));
        }
        Range r;
        r.tag = 'V' + QByteArray::number(++tagCounter_).rightJustified(4, '0');
        r.first = ahead_.sentUpTo + 1;
        r.last = qMax(r.first, last);
        QByteArray cmd = r.tag + " FETCH " + QByteArray::number(r.first);
        if (r.last > r.first)
            cmd += ':' + QByteArray::number(r.last);
        cmd += " (BODY.PEEK[])\r\n";
        socket_->write(cmd);
        ahead_.sentUpTo = r.last;
        ahead_.ranges.push_back(std::move(r));
    }
}

bool ImapClient::takeForReadAhead(ImapResponse &r)
{
    if (ahead_.ranges.empty())
        return false;
    if (r.kind == ImapResponse::Tagged) {
        for (auto it = ahead_.ranges.begin(); it != ahead_.ranges.end(); ++it) {
            if (it->tag == r.tag) {
                // Whatever the status: numbers it did not bring are asked for one by one.
                ahead_.ranges.erase(it);
                return true;
            }
        }
        return false;
    }
    if (r.kind != ImapResponse::Untagged || r.isStatus() || r.name() != "FETCH")
        return false;
    const qint64 number = r.number();
    if (!inFlight(number))
        return false;
    if (r.values.size() >= 3 && r.values[2].kind == ImapValue::List) {
        ImapValue *b = r.values[2].item("BODY[]");
        if (b && (b->kind == ImapValue::String || b->kind == ImapValue::Atom) && number >= ahead_.next
            && ahead_.bodies.count(int(number)) == 0) {
            ahead_.bytes += b->text.size();
            ahead_.arrivedBytes += b->text.size();
            ++ahead_.arrivedCount;
            ahead_.arrivedUpTo = qMax(ahead_.arrivedUpTo, int(number));
            ahead_.bodies.emplace(int(number), std::move(b->text));
        }
    }
    return true;
}

void ImapClient::forgetReadAhead()
{
    std::deque<Range> ranges = std::move(ahead_.ranges);
    ahead_ = ReadAhead();
    ahead_.ranges = std::move(ranges);
    lastSeqFetched_ = 0;
}

bool ImapClient::drainReadAhead(const QString &op)
{
    if (!ahead_.ranges.empty() && socket_) {
        QPointer<ImapClient> self(this);
        forgetReadAhead();
        ahead_.next = INT_MAX;  // nothing more is kept
        Pending p;
        p.op = op;
        p.tag = "*";
        p.until = [this] { return ahead_.ranges.empty(); };
        lastPct_ = 100;
        const bool ok = wait(p);
        if (!self)
            return false;
        if (!ok) {
            lastError_ = redact(op + QStringLiteral(" failed: ") + p.error);
            forgetReadAhead();
            return false;
        }
    }
    forgetReadAhead();
    return true;
}

void ImapClient::keepReceived(const QString &reason, qint64 failedAt)
{
    kept_ = Kept();
    if (ahead_.next <= 0 || ahead_.next == INT_MAX || (ahead_.ranges.empty() && ahead_.bodies.empty()))
        return;
    for (auto &[number, body] : ahead_.bodies) {
        if (failedAt <= 0 || number < failedAt)
            kept_.bodies.emplace(number, std::move(body));
    }
    kept_.next = ahead_.next;
    kept_.reason = reason;
}

std::unique_ptr<ImapEmail> ImapClient::takeKept(int number, const QString &op)
{
    const auto it = kept_.bodies.find(number);
    if (it == kept_.bodies.end()) {
        // The first one that did not make it carries the reason; later ones find no connection.
        lastError_ = redact(op + QStringLiteral(" failed: ") + kept_.reason);
        kept_ = Kept();
        lastSeqFetched_ = 0;
        return nullptr;
    }
    const QByteArray body = std::move(it->second);
    kept_.bodies.erase(it);
    kept_.next = number + 1;
    return handOut(op, body);
}

std::unique_ptr<ImapEmail> ImapClient::handOut(const QString &op, const QByteArray &body)
{
    QPointer<ImapClient> self(this);
    lastError_ = op + QStringLiteral(": OK");
    if (lastPct_ != 100) {
        lastPct_ = 100;
        Q_EMIT PercentDone(100);
        if (!self)
            return nullptr;
    }
    return std::make_unique<ImapEmail>(decodeMessage(body));
}

void ImapClient::checkPending()
{
    Pending *p = pending_;
    if (p && !p->done && p->until && p->until())
        complete(true);
}

int ImapClient::Disconnect()
{
    if (pending_) {
        abandon(QStringLiteral("the connection was closed by Disconnect"));
        lastError_ = QStringLiteral("Disconnect: the connection was closed while an operation waited");
        return 1;
    }
    if (!socket_) {
        lastError_ = QStringLiteral("Disconnect: not connected");
        return 0;
    }
    QPointer<ImapClient> self(this);
    if (!drainReadAhead(QStringLiteral("LOGOUT"))) {
        if (self)
            secret_.clear();
        return 0;
    }
    const int saved = timeoutMs_;
    timeoutMs_ = qMin(timeoutMs_, kLogoutTimeoutMs);
    Command c;
    c.text("LOGOUT");
    const bool ok = run(QStringLiteral("LOGOUT"), c);
    if (!self)
        return 0;
    timeoutMs_ = saved;
    closeConnection();
    secret_.clear();
    return ok ? 1 : 0;
}

}  // namespace vc
