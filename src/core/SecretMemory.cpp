#include "core/SecretMemory.h"

#include <sys/prctl.h>

namespace vc {

void keepSecretsOutOfDumps()
{
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace vc
