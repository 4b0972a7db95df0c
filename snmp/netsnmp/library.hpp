#pragma once

// The library's headers, for our sources only: the config header must come first.
#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
