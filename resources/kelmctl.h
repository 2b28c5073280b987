// Resource ids of KelmCtl.
#pragma once

#define IDD_KELMCTL 100
#define IDS_SOCKETS_FAILED 103
