#pragma once
#include <QString>

namespace vc {

// The readable text of an HTML document: tags removed, script/style/head content
// dropped, character references decoded, block elements (<br>, <p>, <div>, <li>,
// <tr>, headings, ...) turned into line breaks written as CR LF, runs of white
// space collapsed as a browser would (except inside <pre>); a no-break space
// becomes a plain space.
QString htmlToPlainText(const QString &html);

}  // namespace vc
