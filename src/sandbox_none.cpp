#include "sandbox.h"

// Built where the system has no filter to install, or with VORMEL_SANDBOX off.
void enter_sandbox()
{
}
