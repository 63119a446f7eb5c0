// Updater hand-off of the configuration record.
#include "client/client_info.h"

// Not built yet: the hand-off arrives with the HTTP download.
bool CClientInfo::DeleteUpdaterCopy() { return false; }
bool CClientInfo::DownloadManifestDigest(wchar_t*) { return false; }
bool CClientInfo::IsUpdateAvailable() { return false; }
bool CClientInfo::RunUpdater() { return false; }
