// The identifiers of the bench's type library, defined once for the whole program.
#include <initguid.h>

#include "Benchpad_TLB.h"
