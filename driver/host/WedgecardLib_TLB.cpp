// The identifiers that the generated declarations only declare, defined once.
#include <initguid.h>

#include "WedgecardLib_TLB.h"
