// Registry integration of the configuration record.
#include "client/client_info.h"

// Not built yet: the registry integration arrives with the shell helpers.
bool CClientInfo::WriteRegistry() { return false; }
bool CClientInfo::DeleteRegistry() { return false; }
