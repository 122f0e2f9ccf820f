// Numeric ids of the module's resources, shared by the resource script and the code.
#pragma once

#define IDS_PROJNAME 100
#define IDR_NVTAMSELAGENT 102
#define IDR_TYPELIB 1
