#pragma once

namespace vc {

// Passwords and tokens live in this process's memory while it runs. Makes the
// process non-dumpable: no core file is written when it crashes, and other
// processes of the same user cannot attach to it or read its memory. Call as
// soon as a secret may be held; harmless to call again.
void keepSecretsOutOfDumps();

}  // namespace vc
