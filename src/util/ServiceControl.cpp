// STUB(issue 7): replaced by the service-control library.
#include "util/ServiceControl.h"

DWORD SMStartService(const char*, const char*, char*, int, int) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD SMStopService(const char*, const char*, char*, int, int) { return ERROR_CALL_NOT_IMPLEMENTED; }
int SMQueryServiceStatus(const char*) { return 0; }
void SMGetErrorText(DWORD, char* b, int n) { if (b && n > 0) b[0] = 0; }
