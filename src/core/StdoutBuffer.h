#pragma once
#include <QByteArray>

namespace vc::stdoutbuffer {

// Standard output for rows: bytes are held and written in pieces of up to
// 64 KiB, not a write call per message. They go out at once when standard
// output is a terminal, when the first bytes come, when the last write was
// a fifth of a second ago or more, on flush(), and before anything is written
// to standard error (so that what the two streams say stays in order); held
// bytes go out at the latest a fifth of a second later, from the event loop.
// Main thread only.
// Both return false once a write to standard output has failed.
bool write(const QByteArray &bytes);
bool flush();
// Writes `text` to standard error, after the bytes held for standard output
// so that the two streams stay in order, and flushes it.
void toStderr(const QByteArray &text);

}  // namespace vc::stdoutbuffer
