// The registration table through which the protocol bus engine finds its device protocol
// modules. The bus layer declares the table; protocols/ fills it (protocols/registry.cpp), one
// entry per module that exists, in the engine's fixed registration order (the order of
// NPC_PVM_VENDOR_LIST in bus/pvm_msg.h). No bus file includes a module's header: the engine
// constructs, initialises, uninitialises and destroys every module through its entry, and a
// test can hand the engine a table of fake modules instead.
#ifndef KORVEN_BUS_NXTP_MODULES_H
#define KORVEN_BUS_NXTP_MODULES_H

#include <cstdint>

#include "bus/dev_protocol.h"

// One module class: its vendor id, its four-letter name (as the registration failure line
// names it), a constructor and a destructor. The destructor deletes the object through its
// concrete class, which is why the interface needs no virtual destructor.
//
// pfnSetEncryptType is set by the one module that takes the bus's encryption type (the
// module whose descriptor carries NPC_D_PVM_CAP_ENCRYPT_TYPE) and null for every other. The
// engine calls it right after the module's registration and again from
// NPC_F_NXTP_SetEncryptType, which runs on the caller's thread: the module stores the value
// so that its work thread reads it safely (an atomic).
struct NPC_S_NXTP_MODULE_ENTRY {
  uint32_t dwVendorId;
  const char* sName;
  NPC_I_PVM_DevProtocol* (*pfnCreate)();
  void (*pfnDestroy)(NPC_I_PVM_DevProtocol* module);
  void (*pfnSetEncryptType)(NPC_I_PVM_DevProtocol* module, int encryptType);
};

// A table: iEntryNum entries in registration order (pEntries may be null when iEntryNum is 0).
struct NPC_S_NXTP_MODULE_TABLE {
  const NPC_S_NXTP_MODULE_ENTRY* pEntries;
  int iEntryNum;
};

// The production table, filled by protocols/registry.cpp. Never null.
const NPC_S_NXTP_MODULE_TABLE* NPC_F_NXTP_GetModuleTable();

#endif
