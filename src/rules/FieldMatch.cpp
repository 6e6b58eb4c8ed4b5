#include "rules/FieldMatch.h"

namespace vc::records {

namespace {

// Every regular expression of a template sees CR, LF and CR LF as line ends
// ("$" before a CR LF, "." never a CR), whatever the mail's line ends are.
const QString kLineEnds = QStringLiteral("(*ANYCRLF)");

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r';
}

qsizetype lineEndFrom(QStringView text, qsizetype from)
{
    const qsizetype n = text.size();
    while (from < n && !isLineEnd(text[from]))
        ++from;
    return from;
}

qsizetype lineStartBefore(QStringView text, qsizetype at)
{
    while (at > 0 && !isLineEnd(text[at - 1]))
        --at;
    return at;
}

// Runs of white space as one blank.
QString collapsed(QStringView v)
{
    QString out;
    out.reserve(v.size());
    bool blank = false;
    for (QChar c : v) {
        if (c.isSpace()) {
            blank = true;
            continue;
        }
        if (blank)
            out += u' ';
        blank = false;
        out += c;
    }
    if (blank)
        out += u' ';
    return out;
}

// A literal marker as an expression in which each line end (CR LF, LF or CR)
// stands for any line end.
QString markerPattern(const QString &marker)
{
    QString lines = marker;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    QStringList parts;
    for (const QString &piece : lines.split(u'\n'))
        parts << QRegularExpression::escape(piece);
    return parts.join(QStringLiteral("(?>\r\n|\r|\n)"));  // atomic: a CR LF is one line end, never two
}

QString number(quint64 n)
{
    return n ? QString::number(n) : QString();
}

}  // namespace

QString isoDate(const QDateTime &date)
{
    if (!date.isValid())
        return {};
    QString out = date.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    const int offset = date.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    out += offset < 0 ? u'-' : u'+';
    out +=
        QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return out;
}

bool CompiledField::compile(const FieldSpec &spec, QString *problem)
{
    spec_ = spec;
    columnNames_ = {spec.name};
    // What a file cannot say (its reader refuses it) but a field edited in the window can.
    if (spec.name.isEmpty()) {
        *problem = QStringLiteral("a field needs a name");
        return false;
    }
    if (spec.parameter.isEmpty()) {
        switch (spec.kind) {
        case FieldKind::Between: *problem = QStringLiteral("the start marker is empty"); break;
        case FieldKind::Regex: *problem = QStringLiteral("the regular expression is empty"); break;
        case FieldKind::Line: *problem = QStringLiteral("the label is empty"); break;
        case FieldKind::Header: *problem = QStringLiteral("the header field's name is empty"); break;
        case FieldKind::Builtin: *problem = QStringLiteral("no builtin is chosen"); break;
        case FieldKind::Pattern: *problem = QStringLiteral("no pattern is chosen"); break;
        }
        return false;
    }
    if (spec.kind == FieldKind::Between && spec.end.isEmpty()) {
        *problem = QStringLiteral("the end marker is empty (\"\\n\" is the end of the line)");
        return false;
    }
    const Qt::CaseSensitivity cs = spec.caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
    switch (spec.kind) {
    case FieldKind::Between: {
        start_ = QStringMatcher(spec.parameter, cs);
        endOfLine_ = spec.end == QLatin1String("\n") || spec.end == QLatin1String("\r\n");
        end_ = QStringMatcher(spec.end, cs);
        const auto hasBreak = [](const QString &m) { return m.contains(u'\n') || m.contains(u'\r'); };
        if (!hasBreak(spec.parameter) && (endOfLine_ || !hasBreak(spec.end)))
            return true;
        // A marker that spans lines matches whatever line ends the mail has.
        QRegularExpression::PatternOptions options = QRegularExpression::DotMatchesEverythingOption;
        if (spec.caseInsensitive)
            options |= QRegularExpression::CaseInsensitiveOption;
        const QString end = endOfLine_ ? QStringLiteral("(?=[\r\n]|\\z)") : markerPattern(spec.end);
        regex_ = QRegularExpression(markerPattern(spec.parameter) + QStringLiteral("(.*?)") + end, options);
        regex_.optimize();
        valueGroup_ = 1;
        return true;
    }
    case FieldKind::Line: start_ = QStringMatcher(spec.parameter, cs); return true;
    case FieldKind::Header: return true;
    case FieldKind::Builtin:
        if (auto b = builtinFromName(spec.parameter)) {
            builtin_ = *b;
            return true;
        }
        *problem = QStringLiteral("there is no builtin \"%1\"").arg(spec.parameter);
        return false;
    case FieldKind::Pattern:
        pattern_ = findPattern(spec.parameter);
        if (!pattern_) {
            *problem = QStringLiteral("there is no pattern \"%1\"").arg(spec.parameter);
            return false;
        }
        regex_ = QRegularExpression(kLineEnds + pattern_->regex, QRegularExpression::MultilineOption);
        break;
    case FieldKind::Regex: {
        QRegularExpression::PatternOptions options =
            QRegularExpression::MultilineOption | QRegularExpression::UseUnicodePropertiesOption;
        if (spec.caseInsensitive)
            options |= QRegularExpression::CaseInsensitiveOption;
        regex_ = QRegularExpression(kLineEnds + spec.parameter, options);
        break;
    }
    }
    if (!regex_.isValid()) {
        const qsizetype at = qMax<qsizetype>(0, regex_.patternErrorOffset() - kLineEnds.size());
        *problem = QStringLiteral("the regular expression does not compile at character %1: %2")
                       .arg(at + 1)
                       .arg(regex_.errorString());
        return false;
    }
    regex_.optimize();
    if (spec.kind == FieldKind::Regex) {
        const QStringList names = regex_.namedCaptureGroups();
        for (int g = 1; g < names.size(); ++g)
            if (!names.at(g).isEmpty())
                namedGroups_ << g;
        if (!namedGroups_.isEmpty()) {
            columnNames_.clear();
            for (int g : namedGroups_)
                columnNames_ << names.at(g);
        } else if (regex_.captureCount() >= 1) {
            valueGroup_ = 1;
        }
    }
    return true;
}

bool CompiledField::multiValued() const
{
    return spec_.kind == FieldKind::Builtin ? builtin_ == Builtin::AttachmentNames : spec_.all;
}

QString CompiledField::finish(QStringView value) const
{
    if (spec_.trim)
        value = value.trimmed();
    if (spec_.collapseWhitespace)
        return collapsed(value);
    return value.toString();
}

bool CompiledField::addHit(QStringView value, Span span, FieldHits &out) const
{
    QString v = finish(value);
    if (v.isEmpty())
        return false;
    if (spec_.trim && span.source >= 0) {
        // The span covers the value as kept, without the blanks trimmed off.
        qsizetype lead = 0, tail = value.size();
        while (lead < tail && value[lead].isSpace())
            ++lead;
        while (tail > lead && value[tail - 1].isSpace())
            --tail;
        span.start += lead;
        span.length = tail - lead;
    }
    out.values.append(std::move(v));
    out.spans.append(span);
    ++out.hits;
    return true;
}

void CompiledField::collect(const MailRecord &m, bool all, FieldHits &out) const
{
    out.clear();
    out.width = int(columnNames_.size());
    switch (spec_.kind) {
    case FieldKind::Builtin: builtinValues(m, out); return;
    case FieldKind::Header:
        for (const HeaderField &h : m.headers) {
            if (h.name.size() != spec_.parameter.size()
                || QStringView(h.name).compare(spec_.parameter, Qt::CaseInsensitive) != 0)
                continue;
            if (addHit(h.value, Span(), out) && !all)
                return;
        }
        return;
    default: break;
    }
    if (spec_.source == FieldSource::Body) {
        searchText(m.PlainTextBody, 0, all, out);
        return;
    }
    for (qsizetype i = 0; i < m.attachments.size(); ++i) {
        searchText(m.attachments.at(i).text, int(i + 1), all, out);
        if (!all && out.hits > 0)
            return;
    }
}

void CompiledField::searchText(QStringView text, int source, bool all, FieldHits &out) const
{
    if (text.isEmpty())
        return;
    switch (spec_.kind) {
    case FieldKind::Between: searchBetween(text, source, all, out); break;
    case FieldKind::Line: searchLine(text, source, all, out); break;
    case FieldKind::Regex:
    case FieldKind::Pattern: searchRegex(text, source, all, out); break;
    default: break;
    }
}

void CompiledField::searchBetween(QStringView text, int source, bool all, FieldHits &out) const
{
    if (valueGroup_ == 1) {  // markers across lines
        searchRegex(text, source, all, out);
        return;
    }
    const qsizetype startLength = spec_.parameter.size();
    const qsizetype endLength = spec_.end.size();
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype at = start_.indexIn(text, from);
        if (at < 0)
            return;
        const qsizetype valueStart = at + startLength;
        qsizetype valueEnd;
        if (endOfLine_) {
            valueEnd = lineEndFrom(text, valueStart);
            from = valueEnd;
        } else {
            valueEnd = end_.indexIn(text, valueStart);
            if (valueEnd < 0)
                return;  // no end marker after this start, nor after any later one
            from = valueEnd + endLength;
        }
        if (addHit(text.mid(valueStart, valueEnd - valueStart), {source, valueStart, valueEnd - valueStart}, out)
            && !all)
            return;
        from = qMax(from, at + 1);
    }
}

void CompiledField::searchLine(QStringView text, int source, bool all, FieldHits &out) const
{
    const qsizetype labelLength = spec_.parameter.size();
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype at = start_.indexIn(text, from);
        if (at < 0)
            return;
        const qsizetype end = lineEndFrom(text, at + labelLength);
        const qsizetype begin = spec_.wholeLine ? lineStartBefore(text, at) : at + labelLength;
        if (addHit(text.mid(begin, end - begin), {source, begin, end - begin}, out) && !all)
            return;
        from = end + 1;  // the next line (a CR LF's LF starts no line with text)
    }
}

void CompiledField::searchRegex(QStringView text, int source, bool all, FieldHits &out) const
{
    QRegularExpressionMatchIterator it = regex_.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (!namedGroups_.isEmpty()) {
            // One hit with one value per named group; a hit where every group is empty does not count.
            const qsizetype firstValue = out.values.size();
            bool any = false;
            for (int g : namedGroups_) {
                QString v = finish(match.capturedView(g));
                any = any || !v.isEmpty();
                out.values.append(std::move(v));
            }
            if (!any) {
                out.values.resize(firstValue);
                continue;
            }
            out.spans.append({source, match.capturedStart(), match.capturedLength()});
            ++out.hits;
            if (!all)
                return;
            continue;
        }
        QStringView value = match.capturedView(valueGroup_);
        qsizetype start = match.capturedStart(valueGroup_);
        if (pattern_) {
            const qsizetype length = acceptedLength(*pattern_, value);
            if (length < 0)
                continue;
            value = value.left(length);
        }
        if (addHit(value, {source, start, value.size()}, out) && !all)
            return;
    }
}

void CompiledField::builtinValues(const MailRecord &m, FieldHits &out) const
{
    if (builtin_ != Builtin::AttachmentNames) {
        addHit(builtinValue(builtin_, m), Span(), out);
        return;
    }
    for (const AttachmentInfo &a : m.attachments)
        addHit(a.name, Span(), out);
}

QString builtinValue(Builtin b, const MailRecord &m)
{
    switch (b) {
    case Builtin::Folder: return m.folder;
    case Builtin::Uid: return number(m.uid);
    case Builtin::UidValidity: return number(m.uidValidity);
    case Builtin::Seq: return number(quint64(qMax(0, m.uID)));
    case Builtin::MessageId: return m.messageId;
    case Builtin::Date: return isoDate(m.date);
    case Builtin::FromAddress: return m.FromAddress;
    case Builtin::FromName: return m.FromName;
    case Builtin::Subject: return m.Subject;
    case Builtin::AttachmentNames: break;
    }
    return QString();
}

}  // namespace vc::records
